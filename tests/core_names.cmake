# The window's control names and its handlers' names belong to src/app and
# src/help; the core says what its code does. Fails naming every line of a
# core file that holds one of them.
set(pattern "(bt_open|BT_IMP|Progress1|ed_filepath|memo_select|rd_czxm|LbButton|bt_test|bt_exit|suiGroupBox|GroupBox[12]|AdvPanel1|Label1|suiCheckBox|frm_main|frm_help|FormCreate|FormClose|FormKeyDown|[A-Za-z0-9_]+Click[^a-z])")
set(found "")
foreach(dir db sheet import export cli operator)
  file(GLOB_RECURSE files ${SOURCE_DIR}/src/${dir}/*)
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "${pattern}")
    foreach(line ${lines})
      string(APPEND found "${f}: ${line}\n")
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "window names in the core:\n${found}")
endif()
