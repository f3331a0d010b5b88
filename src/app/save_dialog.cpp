#include "app/save_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "app/qt_text.h"

namespace kalmuro {

QString FileDialogFilter(const std::string& filter) {
    const QString text = Win1252ToQString(filter);
    const qsizetype bar = text.indexOf(QLatin1Char('|'));
    if (bar < 0) return text;
    return text.left(bar) + QStringLiteral(" (") + text.mid(bar + 1) + QLatin1Char(')');
}

QString SaveTargetProblem(const QString& path) {
    const QFileInfo target(path);
    if (!QFileInfo(target.absolutePath()).isDir())
        return QStringLiteral("La cartella scelta non esiste:\\n") + target.absolutePath();
    // The message file replaces an existing one only where the user could
    // write it; a file without a write bit is read-only even for root.
    if (target.exists() &&
        (!target.isWritable() || !target.permissions().testFlag(QFileDevice::WriteOwner)))
        return Win1252ToQString("Il file scelto \xE8 di sola lettura:\\n") +  // è
               target.absoluteFilePath();
    return QString();
}

bool ExecuteSaveDialog(QWidget* owner, const TSaveDialogRequest& request, std::string& chosen,
                       const std::function<void(const std::string&)>& showError) {
    QFileDialog dialog(owner, Win1252ToQString(request.Title),
                       QFile::decodeName(QByteArray::fromStdString(request.InitialDir)),
                       FileDialogFilter(request.Filter));
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(Win1252ToQString(request.DefaultExt));
    QString proposed = QString::fromUtf8(request.FileName);
    for (;;) {
        dialog.selectFile(proposed);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        const QString path = dialog.selectedFiles().constFirst();
        const QString problem = SaveTargetProblem(path);
        if (problem.isEmpty()) {
            chosen = QFile::encodeName(path).toStdString();
            return true;
        }
        if (showError) showError(QStringToWin1252(problem));
        proposed = QFileInfo(path).fileName();
    }
}

}  // namespace kalmuro
