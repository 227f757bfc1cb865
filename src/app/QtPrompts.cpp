#include "app/QtPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx::gui {

namespace {

QString& TitleStore() {
  static QString title;
  return title;
}

// Message boxes break lines at "\n"; the core's texts use "\r\n".
QString BoxText(const std::string& text) {
  QString s = FromCore(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

// The host folder a dialog starts in: the given Windows folder, else the
// current directory; empty when neither resolves to an existing folder.
QString StartFolder(const std::string& windowsDir) {
  for (const std::string& dir : {windowsDir, Sys().CurrentDirectory()}) {
    if (dir.empty()) continue;
    std::optional<std::filesystem::path> host = Sys().ToHost(dir);
    std::error_code ec;
    if (host && std::filesystem::is_directory(*host, ec))
      return QString::fromStdString(host->string());
  }
  return {};
}

}  // namespace

QString ApplicationTitle() { return TitleStore(); }
void SetApplicationTitle(const QString& title) { TitleStore() = title; }

QString FromCore(const std::string& text) { return QString::fromStdString(text); }
std::string ToCore(const QString& text) { return text.toStdString(); }

QStringList QtNameFilters(const std::string& windowsFilter) {
  QStringList result;
  const std::vector<std::string> parts = SplitString(windowsFilter, '|');
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString description = FromCore(parts[i]).trimmed();
    // The description usually repeats its patterns in parentheses; Qt reads
    // the patterns from there, so they are rewritten rather than repeated.
    static const QRegularExpression trailing(QStringLiteral("\\s*\\([^()]*\\)$"));
    description.remove(trailing);
    QStringList patterns;
    for (const std::string& p : SplitString(parts[i + 1], ';')) {
      QString pattern = FromCore(p).trimmed();
      if (pattern.isEmpty()) continue;
      if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
      patterns << pattern;
    }
    if (patterns.isEmpty()) continue;
    result << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                  QLatin1Char(')');
  }
  return result;
}

std::optional<std::string> AcceptChosenFile(const QString& hostPath) {
  if (hostPath.isEmpty()) return std::nullopt;
  std::optional<std::string> windowsPath =
      Sys().ToWindows(std::filesystem::path(hostPath.toStdString()));
  if (!windowsPath) return std::nullopt;
  MoveToChosenFolder(*windowsPath);
  return windowsPath;
}

void MoveToChosenFolder(const std::string& windowsPath) {
  std::string folder = ExtractFilePath(windowsPath);
  // No trailing backslash except for a drive root ("C:\").
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  if (!folder.empty()) Sys().SetCurrentDirectory(folder);
}

void QtPrompts::WarningOk(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), BoxText(text), QMessageBox::Ok,
                  parent_);
  box.exec();
}

PromptResult QtPrompts::WarningOkCancel(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), BoxText(text),
                  QMessageBox::Ok | QMessageBox::Cancel, parent_);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok ? PromptResult::Ok : PromptResult::Cancel;
}

PromptResult QtPrompts::WarningYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), BoxText(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes ? PromptResult::Yes : PromptResult::No;
}

void QtPrompts::Message(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), BoxText(text), QMessageBox::Ok, parent_);
  box.exec();
}

void QtPrompts::Error(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), BoxText(text), QMessageBox::Ok,
                  parent_);
  box.exec();
}

std::optional<std::string> QtPrompts::RunFileDialog(const FileDialogSpec& spec, bool save) {
  QFileDialog dialog(parent_, FromCore(spec.title), StartFolder(spec.initialDir));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // Windows file names ignore case, so do the filters. A desktop's native
  // dialog may match "*.DPL" case-sensitively, so Qt's own dialog is used.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  const QStringList filters = QtNameFilters(spec.filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!spec.defaultExt.empty()) dialog.setDefaultSuffix(FromCore(spec.defaultExt));
  if (save && !spec.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!spec.fileName.empty()) dialog.selectFile(FromCore(ExtractFileName(spec.fileName)));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return AcceptChosenFile(chosen.first());
}

std::optional<std::string> QtPrompts::OpenFile(const FileDialogSpec& spec) {
  return RunFileDialog(spec, false);
}

std::optional<std::string> QtPrompts::SaveFile(const FileDialogSpec& spec) {
  return RunFileDialog(spec, true);
}

std::optional<std::string> QtPrompts::SelectFolder(const std::string& title,
                                                   const std::string& initialDir) {
  const QString chosen =
      QFileDialog::getExistingDirectory(parent_, FromCore(title), StartFolder(initialDir));
  if (chosen.isEmpty()) return std::nullopt;
  return Sys().ToWindows(std::filesystem::path(chosen.toStdString()));
}

}  // namespace kx::gui
