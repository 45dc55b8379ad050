#pragma once
// Every text the program shows the operator in a box, a prompt or a caption,
// in one place: the window, the command line and the core all take them from
// here. Texts with parts are functions of those parts.

#include <cerrno>
#include <string>

#include "reason/reason.h"

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
inline std::string ConnectionFailed(const std::string& reason) {
  return "无法联接数据库！具体错误信息如下：\n" + reason;
}
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

// The choice of the workbook to read: its file filter, and the type its
// list gives a folder.
inline constexpr const char* kWorkbookFilter = "EXCEL文件 (*.xls *.xlsx)";
inline constexpr const char* kFolder = "文件夹";

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

// ---- reasons the program gives for a failure (see reason/reason.h) ----
inline std::string SystemErrorText(long number) {
  switch (number) {
    case ENOENT: return "文件或文件夹不存在";
    case EACCES:
    case EPERM: return "没有访问权限";
    case EISDIR: return "这是一个文件夹";
    case ENOSPC: return "磁盘空间不足";
    case EFBIG: return "文件太大";
    case EROFS: return "磁盘是只读的";
    case ENOMEM: return "内存不足";
    case EIO: return "读写错误";
    case ENAMETOOLONG: return "文件名太长";
    default: return "系统错误" + std::to_string(number);
  }
}
inline std::string ReasonText(Reason reason, const std::string& subject, long code,
                              const std::string& detail) {
  const std::string quoted = "\"" + subject + "\"";
  const std::string words = detail.empty() ? std::string() : ":" + detail;
  switch (reason) {
    case Reason::None: break;
    case Reason::NotAWorkbook: return "该文件不是Excel工作簿(.xls或.xlsx文件)。";
    case Reason::OldWorkbookFormat:
      return "该工作簿是不支持的旧版Excel格式,请在Excel中另存为.xls或.xlsx文件后再试。";
    case Reason::WorkbookDamaged: return "该工作簿文件已经损坏,无法读取。";
    case Reason::WorkbookEncrypted: return "该工作簿设有打开密码(已加密),请去掉密码保存后再试。";
    case Reason::UnsupportedWorkbookFormat:
      return "不支持该工作簿的格式(如.xlsb、.ods或严格Open XML),请在Excel中另存为普通的.xls或.xlsx"
             "文件后再试。";
    case Reason::NoWorksheet:
      return "当前工作表" + quoted + "不是普通的工作表(例如是图表),其中没有单元格。";
    case Reason::FileUnreadable:
      return (subject.empty() ? "无法读取该文件" : "无法读取文件" + quoted) + ":" +
             SystemErrorText(code) + "。";
    case Reason::NotAFile:
      return (subject.empty() ? std::string("所选的") : quoted) + "不是一个普通文件。";
    case Reason::FileChanged: return "读取期间该文件被其他程序修改了,请稍后再试。";
    case Reason::OutOfMemory: return "内存不足,无法读取该工作簿。";
    case Reason::CellError: return "单元格" + subject + "中是错误值" + detail + "。";
    case Reason::ResultTooLong:
      return "查询结果超出了一个工作表的容量:最多" + std::to_string(code) + "行。";
    case Reason::ResultTooWide:
      return "查询结果超出了一个工作表的容量:最多" + std::to_string(code) + "列。";
    case Reason::CannotSaveExport:
      return "无法保存导出的文件" + quoted + ":" + SystemErrorText(code) + "。";
    case Reason::NoHomeFolder: return "找不到用户的主目录(没有设置HOME),无法保存导出的文件。";
    case Reason::ExportIncomplete: return "无法完整地写入导出的文件(磁盘是否已满?)。";
    case Reason::NotUtf8: return "单元格" + subject + "的值不是UTF-8文本。";
    case Reason::NoDataSource: return "没有指定数据源。";
    case Reason::NoSuchDataSource:
      return "数据源" + quoted + "不存在:它既不是别名,也不是ODBC数据源或已有的数据库文件。";
    case Reason::UnknownEngine: return "未知的数据库引擎" + quoted + "。";
    case Reason::AliasFileUnreadable: return "无法读取别名文件" + quoted + "。";
    case Reason::AliasFileFault:
      return code > 0 ? "别名文件" + quoted + "第" + std::to_string(code) + "行有错误。"
                      : "别名文件" + quoted + "有错误。";
    case Reason::NoSuchDatabaseFile: return "数据库文件" + quoted + "不存在。";
    case Reason::NotADatabaseFile: return "数据库" + quoted + "不是一个文件。";
    case Reason::CannotOpenDatabase: return "无法打开数据库" + quoted + words;
    case Reason::DatabaseLocked: return "数据库" + quoted + "正被另一个程序锁定,请稍后再试。";
    case Reason::DatabaseGone:
      return "数据库文件" + quoted + "已经不在了:连接期间它被删除或移走了。";
    case Reason::CannotConnect: return "无法连接到数据库服务器" + words;
    case Reason::ConnectionLost: return "与数据库服务器的连接已经中断" + words;
    case Reason::ServerSilent: return ServerStoppedAnswering(static_cast<int>(code));
    case Reason::ConnectionLostRolledBack:
      return "与数据库服务器的连接已经中断,事务已经回滚" + words;
    case Reason::CommitUncertain:
      return "提交时与数据库服务器的连接中断:数据可能已经保存,也可能没有保存。";
    case Reason::RolledBackByServer: return "服务器已经回滚了事务,没有保存任何数据。";
    case Reason::NoRowSet: return "该语句已经执行,但它不返回可以打开的记录。";
    case Reason::EmptyStatement: return "语句是空的。";
    case Reason::MoreThanOneStatement: return "一次只能执行一条语句:\";\"之后还有内容。";
    case Reason::TrailingSemicolon: return "无效字符:语句不能以\";\"结尾。";
    case Reason::NulInStatement: return "语句中含有NUL字符。";
  }
  return {};
}

// ---- the program ----
inline constexpr const char* kReallyQuit = "您真的确认退出本程序吗？";

}  // namespace xb::texts
