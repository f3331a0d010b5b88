// Plays the user in front of a run of modal windows that open one inside
// another (the settings dialog, the account editor over it, a message box
// over that). Each step waits for the top modal window it expects and acts
// on it without blocking: anything that opens another modal window is
// queued, so that the poll keeps running inside the nested event loop.
//
// Safety: a step that finds no window of its kind within 5 s fails the run,
// and a window left open PatienceMs (2 s) after the last step acted on it (or one no step
// expects) is failed and closed, so a broken script never hangs the test.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

#include "app/msg_box.h"

namespace kalmuro::apptest {

class TDialogDriver {
public:
    // Acts on the window; false when it is not the one this step waits for.
    using TStep = std::function<bool(QWidget*)>;

    TDialogDriver() {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
        FTimer.start();
        FSince.start();
    }

    // A step for a window of type T.
    template <typename T>
    TDialogDriver& On(std::function<void(T&)> act, QString name = QString()) {
        FSteps.push_back({[act](QWidget* w) {
                              T* typed = qobject_cast<T*>(w);
                              if (typed == nullptr) return false;
                              act(*typed);
                              return true;
                          },
                          name.isEmpty() ? QString::fromLatin1(T::staticMetaObject.className())
                                         : name});
        return *this;
    }

    // How long a window may stay open without a step acting on it: longer
    // for a step that waits on a server (a sign-in, say).
    int PatienceMs = 2000;

    bool Done() const { return FSteps.empty(); }
    // The step waited for now, with the number of steps that ran before it.
    QString Pending() const {
        return FSteps.empty() ? QString()
                              : FSteps.front().Name + QStringLiteral(" after ") +
                                    QString::number(FDone) + QStringLiteral(" steps");
    }
    // Empty when every step ran and no window was left open or unexpected.
    const QString& Failure() const { return FFailure; }

    // A click that may open a modal window: delivered from the event loop.
    static void Click(QObject* button) {
        QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    }

    // Clicks the message box button whose caption, without its access key
    // mark, is the one given.
    static void Press(TqvFormMsgBox& box, const char* caption) {
        for (QPushButton* button : box.Buttons())
            if (button->text().remove(QLatin1Char('&')) == QLatin1String(caption)) Click(button);
    }

    // Types a path into a file dialog's name field, as a user does, and
    // accepts it. selectFile() would not do: it leaves the field alone once
    // the field has the focus, and the dialog's folder listing, arriving from
    // a thread of its own, may put the dialog's proposal back. So the path is
    // typed again until the dialog reports it (or it with the default
    // extension), and only then accepted.
    static void ChooseFile(QFileDialog& dialog, const QString& path, int tries = 50) {
        if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        QTimer::singleShot(20, &dialog, [d = QPointer<QFileDialog>(&dialog), path, tries] {
            if (d.isNull() || !d->isVisible()) return;
            const QStringList files = d->selectedFiles();
            const QString withSuffix = path + QLatin1Char('.') + d->defaultSuffix();
            if (files.size() == 1 && (files.front() == path || files.front() == withSuffix))
                QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
            else if (tries > 0) ChooseFile(*d, path, tries - 1);
        });
    }

private:
    struct TEntry {
        TStep Step;
        QString Name;
    };

    void Fail(const QString& why) {
        if (FFailure.isEmpty()) FFailure = why;
    }

    // A window that was open under the last one acted on comes back to the
    // top as soon as that one hides, before the code that showed it has
    // returned: it may be acted on only once the last one is gone.
    bool Unwinding(QWidget* top) const {
        if (FActedOn.isNull() || FActedOn->isVisible()) return false;
        for (const QPointer<QWidget>& w : FBelow)
            if (w == top) return true;
        return false;
    }

    void Poll() {
        QWidget* top = QApplication::activeModalWidget();
        if (top != FLastTop) {
            FLastTop = top;
            FSince.restart();
        }
        if (top != nullptr && top != FActedOn && !Unwinding(top) && !FSteps.empty() &&
            FSteps.front().Step(top)) {
            FActedOn = top;
            FBelow.clear();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w != top && w->isVisible() && w->isModal()) FBelow.emplace_back(w);
            FSteps.pop_front();
            ++FDone;
            FSince.restart();
            return;
        }
        if (top == nullptr) {
            if (!FSteps.empty() && FSince.elapsed() > 5000) {
                Fail(QStringLiteral("no window for step ") + FSteps.front().Name);
                FSteps.clear();
            }
            return;
        }
        // A window stays open: neither the last step closed it nor does the
        // next one want it.
        if (FSince.elapsed() > PatienceMs) {
            Fail(QStringLiteral("window left open: ") +
                 QString::fromLatin1(top->metaObject()->className()) + QLatin1Char(' ') +
                 top->windowTitle() +
                 (FSteps.empty() ? QString() : QStringLiteral(", waiting for ") + FSteps.front().Name));
            if (auto* dialog = qobject_cast<QDialog*>(top)) dialog->reject();
            else top->close();
            FSince.restart();
        }
    }

    std::deque<TEntry> FSteps;
    QTimer FTimer;
    QElapsedTimer FSince;
    QPointer<QWidget> FLastTop, FActedOn;
    std::vector<QPointer<QWidget>> FBelow;
    QString FFailure;
    int FDone = 0;
};

}  // namespace kalmuro::apptest
