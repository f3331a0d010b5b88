// What the window tests share: a home folder of their own, an answerer that
// plays the user in front of every message box, and the geometry of a row's
// check box.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <string>
#include <vector>

#include "app/msg_box.h"
#include "app/qt_text.h"
#include "mail/settings.h"
#include "support/temp_home.h"

namespace kalmuro::apptest {

// A fresh folder for kalmuro.ini, the rule lists and the recycle folder,
// the program's home while it lives.
class THome : public testing::TempHome {
public:
    THome() { SetHomeDir(Dir()); }
    ~THome() { SetHomeDir(""); }
    void Write(const std::string& name, const std::string& content) const {
        testing::WriteFile(Path(name), content);
    }
};

// Every message box that opens while it lives is recorded and answered:
// by Answer when set (it gets the box and presses something), by Escape
// otherwise. Boxes open inside nested event loops, so it polls.
class TBoxAnswerer {
public:
    struct TSeen {
        QString Title, Text;
    };
    std::vector<TSeen> Seen;
    std::function<void(TqvFormMsgBox&)> Answer;

    TBoxAnswerer() {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<TqvFormMsgBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->property("answered").toBool()) return;
            box->setProperty("answered", true);
            Seen.push_back({box->windowTitle(), box->TextLabel()->text()});
            // Answered from the event loop, not from inside this poll.
            QTimer::singleShot(0, box, [this, box] {
                if (Answer)
                    Answer(*box);
                else
                    QTest::keyClick(box, Qt::Key_Escape);
            });
        });
        FTimer.start();
    }
    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const TSeen& s : Seen) texts.push_back(s.Text);
        return texts;
    }

private:
    QTimer FTimer;
};

// Runs `act` on the next modal window as soon as it is open (polling, since
// it opens inside a nested event loop), however late that is.
inline void OnNextModal(const std::function<void(QWidget*)>& act) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        poll->stop();
        poll->deleteLater();
        act(modal);
    });
    poll->start();
}

// The centre of a row's check box, where a click ticks it.
inline QPoint CheckBoxCenter(QTreeView* view, int row) {
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = view->visualRect(view->model()->index(row, 0));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    return view->style()
        ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view)
        .center();
}

// With KALMURO_GRAB_DIR set, saves a picture of the widget there (to look
// at the window while working on it).
inline void Grab(QWidget& widget, const char* name) {
    const QByteArray dir = qgetenv("KALMURO_GRAB_DIR");
    if (!dir.isEmpty())
        widget.grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') +
                           QString::fromLatin1(name) + QStringLiteral(".png"));
}

inline QString Ini(const char* key) {
    return Win1252ToQString(ReadIniString(kSectionSetup, key, "<none>"));
}

}  // namespace kalmuro::apptest
