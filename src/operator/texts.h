#pragma once
// Every text the program shows the operator in a box, a prompt or a caption,
// in one place: the window, the command line and the core all take them from
// here. Texts with parts are functions of those parts.

#include <string>

namespace xb::texts {

// ---- captions ----
inline constexpr const char* kInformation = "提示信息";
inline constexpr const char* kConfirmation = "确认信息";
inline constexpr const char* kWarning = "警告信息";
inline constexpr const char* kError = "错误信息";
inline constexpr const char* kErrorHint = "错误提示";
inline constexpr const char* kImportFailed = "导入失败";
inline constexpr const char* kExportFailed = "导出失败";
inline constexpr const char* kSystemError = "系统错误";

// ---- the connection test ----
inline constexpr const char* kConnected = "当前数据库联系成功!";
inline constexpr const char* kConnectTimedOut =
    "数据库服务器没有响应,已放弃连接!\r请确认服务器已经启动并且网络畅通。";
inline constexpr const char* kConnectTimeoutCaption = "连接超时";
// A connected server that went silent for longer than the alias allows.
inline std::string ServerStoppedAnswering(int seconds) {
  return "数据库服务器已经" + std::to_string(seconds) +
         "秒没有响应,已断开与它的连接!\r未提交的数据将由数据库撤销。";
}

// ---- reading a workbook ----
inline constexpr const char* kSpreadsheetRunning = "\"EXCEL\",已经打开,请先关闭已经打开的EXCEL文件";
inline constexpr const char* kSpreadsheetRunningCaption = "ZQ_提示";
inline constexpr const char* kCannotStartSpreadsheet =
    "无法连接EXCEL 自动化服务器，\n请确认您的系统已经安装EXCEL 2000 及更高版本。";
inline std::string ReadFailed(const std::string& reason) {
  return "无法打开该文件！具体错误信息如下：\n" + reason;
}
inline constexpr const char* kReadFailedCaption = "ZQ 错误信息";
inline constexpr const char* kBadHeader = "请确认您打开的EXCEL文件的表头信息是否正确!";
inline std::string NoSuchTable(const std::string& table) {
  return "\"" + table + "\"不在数据库中,请确认EXCEL表头信息是否正确!";
}
inline constexpr const char* kNoSuchTableCaption = "错误信息-导入失败";
inline std::string NoSuchSequence(const std::string& sequence) {
  return "当前数据中不存在\"" + sequence + "\"这个序列号!\r请确认打开的EXCEL文件的表头信息是否正确";
}
inline std::string NoSuchColumn(const std::string& table, const std::string& column) {
  return "\"" + table + "\"表中没有\"" + column +
         "\"这个字段\r请确认你打开的EXCEL文件的表头信息是否正确!";
}
inline std::string TableOpenFailed(const std::string& table, const std::string& reason) {
  return "打开" + table + "时出现下列错误:\r" + reason;
}
inline constexpr const char* kImportNow = "数据已经成功的从Excel文件中提取,是否导入到数据库中?";

// ---- the import run ----
inline constexpr const char* kNothingRead = "导入前请先打开要导入的Excel文件!";
inline std::string TableLocked(const std::string& table) {
  return "表\"" + table +
         "\"正被另一个会话锁定,等待超时!\r该次导入已经撤销,没有写入任何数据,请稍后再试。";
}
inline std::string CommitUncertain(const std::string& reason) {
  return "提交数据时与数据库的连接中断,无法确定数据是否已经保存!\r"
         "再次导入前请先检查数据库中的数据。\r具体错误信息如下:\r" +
         reason;
}
inline constexpr const char* kCommitUncertainCaption = "导入结果不确定";
inline constexpr const char* kImported = "数据已经成功导入到数据库中!";
inline constexpr const char* kSequenceRowExists =
    "该次导入的表中含有序列号,不能完成更新操作!\r请先手动删除数据库中的记录!";
inline std::string RowFailed(const std::string& reason) {
  return "向数据中导入EXCEL数据时出现下列错误:\r" + reason +
         "\r该次导入失败,已经导入的数据将自动删除!";
}
inline std::string FailedStatement(const std::string& sql) {
  return "错误语句的详细信息如下:\r" + sql;
}
inline constexpr const char* kFailedStatementCaption = "SQL错误语句";

// The overwrite prompt: its caption, its buttons left to right, its text.
inline constexpr const char* kOverwriteCaption = "Confirm";
inline constexpr const char* kOverwriteYes = "&Yes";
inline constexpr const char* kOverwriteAbort = "&Abort";
inline constexpr const char* kOverwriteIgnore = "&Ignore";
inline constexpr const char* kOverwriteAll = "&All";
inline std::string OverwritePrompt(const std::string& existing_values, const std::string& values) {
  return "数据库中已经有这条记录的信息内容如下:\r" + existing_values + "\r" +
         "要更新的数据内容如下:\r" + values + "\r" +
         "点击\"Yes\"覆盖当前信息\r"
         "点击\"Ignore\"忽略不做处理\r"
         "点击\"All\"覆盖所有已经存在的信息\r"
         "点击\"Abort\"终止导入操作";
}

// The same prompt on a terminal: the line of choices under the text.
inline constexpr const char* kOverwriteChoices = "[y]es / [a]bort / [i]gnore / a[l]l? ";

// The choice of the workbook to read: its file filter.
inline constexpr const char* kWorkbookFilter = "EXCEL文件 (*.xls *.xlsx)";

// ---- the pre-flight check of a workbook (nothing written) ----
// Each reason is followed by the database's own words in brackets.
inline std::string CheckTooLong(const std::string& declared) {
  return "文本超过字段定义的长度" + declared;
}
inline constexpr const char* kCheckNotNumber = "不是数字";
inline std::string CheckTooManyDigits(const std::string& declared) {
  return "数字的位数超过字段定义" + declared;
}
inline constexpr const char* kCheckNotDate =
    "不是日期,可接受的日期格式为 年-月-日 (yyyy-mm-dd,如2003-8-1或2003-08-01),"
    "或设置为日期格式的单元格";
inline constexpr const char* kCheckEmpty = "该字段不允许为空";
inline constexpr const char* kCheckErrorCell = "单元格中是错误值";
inline std::string CheckRepeatedKey(int first_row, const std::string& first_cell) {
  return "键值与第" + std::to_string(first_row) + "行(" + first_cell + ")重复";
}
inline std::string CheckExistingRow(int row) {
  return "第" + std::to_string(row) + "行: 数据库中已经有这条记录,导入时将询问是否覆盖";
}
inline std::string CheckSummary(size_t rows, size_t inserted, size_t asked, size_t faults) {
  return "共读取" + std::to_string(rows) + "行数据,将插入" + std::to_string(inserted) +
         "行,将询问是否覆盖" + std::to_string(asked) + "行,有问题的单元格" +
         std::to_string(faults) + "个";
}
inline constexpr const char* kCheckClean = "检查完毕,没有发现问题。";
inline constexpr const char* kCheckFaulty = "检查完毕,发现以下问题,没有写入任何数据:";

// ---- the export ----
inline std::string BadQuery(const std::string& reason) { return "SQl语句有问题,如下:\r" + reason; }
inline std::string WrongStatement(const std::string& sql) { return "错误的SQL语句如下:\r" + sql; }
inline std::string ExportFailed(const std::string& reason) {
  return "导出到Excel文件时出现下列错误:\r" + reason;
}
inline std::string ExportSavedAt(const std::string& path) {
  return "导出的文件已经保存在:\r" + path;
}

// ---- the program ----
inline constexpr const char* kReallyQuit = "您真的确认退出本程序吗？";

}  // namespace xb::texts
