#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QThread>
#include <cstdio>

#include "platform/FileDialog.h"
#include "platform/MessageBox.h"

namespace platform {

QString QtFilterFromPairs(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // A label that already shows its patterns ("Qvbin file(*.qvbin)") is
    // what Qt wants as it is.
    if (parts[i].endsWith(QLatin1Char(')')) && parts[i].contains(QLatin1Char('(') + patterns + QLatin1Char(')')))
      out << parts[i];
    else
      out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return out.join(QStringLiteral(";;"));
}

void InstallQtDialogs() {
  SetMessageBoxHook([](const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) {
    // Boxes are only shown from the UI thread; elsewhere the text goes to the
    // console rather than risking a widget on a worker thread.
    if (QThread::currentThread() != qApp->thread()) {
      std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
      return MessageResult::Ok;
    }
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (icon) {
      case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
      case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
      case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
      case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
      case MessageIcon::None: break;
    }
    switch (buttons) {
      case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
      case MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
      case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    switch (box.exec()) {
      case QMessageBox::Cancel: return MessageResult::Cancel;
      case QMessageBox::Yes: return MessageResult::Yes;
      case QMessageBox::No: return MessageResult::No;
      default: return MessageResult::Ok;
    }
  });
  SetOpenFileDialogHook([](const std::string& filter, const std::string& title) -> std::optional<std::string> {
    const QString path = QFileDialog::getOpenFileName(nullptr, QString::fromStdString(title),
                                                      QString::fromStdString(OpenFileDialogFolder()),
                                                      QtFilterFromPairs(filter));
    if (path.isNull()) return std::nullopt;  // cancelled
    return path.toStdString();
  });
  SetSaveFileDialogHook([](const std::string& filter, const std::string& title,
                           const std::string& suggestedName) -> std::optional<std::string> {
    QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(title), QString(),
                       QtFilterFromPairs(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QString::fromStdString(suggestedName));
    // "Csv file(*.csv)|*.csv|" -> "csv": what a name typed without one gets.
    const QString first = QString::fromStdString(filter).section(QLatin1Char('|'), 1, 1).section(QLatin1Char(';'), 0, 0);
    if (first.startsWith(QLatin1String("*.")) && !first.mid(2).contains(QLatin1Char('*')))
      dialog.setDefaultSuffix(first.mid(2));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
  });
}

}  // namespace platform
