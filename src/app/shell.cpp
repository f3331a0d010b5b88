#include "app/shell.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "app/msg_box.h"
#include "engine/form_main.h"

namespace kalmuro {

bool OpenWithDesktop(const std::string& target, const std::string& /*parameters*/) {
    if (target.empty()) return false;
    const QString text = QFile::decodeName(QByteArray::fromStdString(target));
    QUrl url;
    if (target.find("://") != std::string::npos) {
        url = QUrl(text, QUrl::StrictMode);
        if (!url.isValid()) return false;
    } else {
        // The desktop opener answers at once and reports a missing path
        // only to a terminal nobody reads; look first.
        if (!QFileInfo::exists(text)) return false;
        url = QUrl::fromLocalFile(text);
    }
    return QDesktopServices::openUrl(url);
}

void ShellOpenOrReport(const std::string& target) {
    if (!OpenWithDesktop(target, std::string())) ShowError(ShellOpenErrorText(target, std::string()));
}

}  // namespace kalmuro
