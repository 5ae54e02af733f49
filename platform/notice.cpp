#include "platform/notice.h"

#include <QApplication>
#include <QDebug>
#include <QFileDialog>
#include <QInputDialog>
#include <QPointer>
#include <QThread>
#include <QMutex>
#include <QMutexLocker>
#include <QQueue>

namespace Notice {
namespace {

struct State {
    QMutex mutex;
    bool testMode = false;
    QList<Record> records;
    QQueue<QMessageBox::StandardButton> buttonReplies;
    QQueue<QString> textReplies;
};

State &state()
{
    static State s;
    return s;
}

QMessageBox::StandardButton defaultReply(QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton)
{
    if (defaultButton != QMessageBox::NoButton)
        return defaultButton;
    for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Cancel, QMessageBox::No}) {
        if (buttons.testFlag(b))
            return b;
    }
    return QMessageBox::Ok;
}

bool onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void showLater(Kind kind, const QString &title, const QString &text, QMessageBox::StandardButtons buttons,
               QMessageBox::StandardButton defaultButton)
{
    qWarning().noquote() << title + QStringLiteral(": ") + text;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication *>(app))
        return;
    QMetaObject::invokeMethod(
        app,
        [kind, title, text, buttons, defaultButton] {
            QMessageBox::Icon icon = QMessageBox::Critical;
            if (kind == Kind::Warning)
                icon = QMessageBox::Warning;
            else if (kind == Kind::Information)
                icon = QMessageBox::Information;
            else if (kind == Kind::Question)
                icon = QMessageBox::Question;
            QMessageBox box(icon, title, text, buttons);
            if (defaultButton != QMessageBox::NoButton)
                box.setDefaultButton(defaultButton);
            box.exec();
        },
        Qt::QueuedConnection);
}

QMessageBox::StandardButton box(Kind kind, QWidget *parent, const QString &title, const QString &text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton)
{
    State &s = state();
    {
        QMutexLocker lock(&s.mutex);
        if (s.testMode) {
            s.records.append(Record{kind, title, text, buttons});
            if (!s.buttonReplies.isEmpty())
                return s.buttonReplies.dequeue();
            return defaultReply(buttons, defaultButton);
        }
    }
    if (!onGuiThread()) {
        // A box cannot be shown from a worker thread, and waiting for the GUI
        // thread could deadlock a shutdown that joins this thread. Show it on
        // the GUI thread without waiting and answer with the default.
        showLater(kind, title, text, buttons, defaultButton);
        return defaultReply(buttons, defaultButton);
    }
    switch (kind) {
    case Kind::Critical:
        return QMessageBox::critical(parent, title, text, buttons, defaultButton);
    case Kind::Warning:
        return QMessageBox::warning(parent, title, text, buttons, defaultButton);
    case Kind::Information:
        return QMessageBox::information(parent, title, text, buttons, defaultButton);
    default:
        return QMessageBox::question(parent, title, text, buttons, defaultButton);
    }
}

// Returns true when answered by the test mode; *reply then holds the answer.
bool scriptedText(Kind kind, const QString &title, const QString &text, QString *reply, bool *answered)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.testMode)
        return false;
    s.records.append(Record{kind, title, text, QMessageBox::NoButton});
    if (!s.textReplies.isEmpty()) {
        *reply = s.textReplies.dequeue();
        *answered = true;
    } else {
        *answered = false;
    }
    return true;
}

} // namespace

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton def)
{
    return box(Kind::Critical, parent, title, text, buttons, def);
}

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton def)
{
    return box(Kind::Warning, parent, title, text, buttons, def);
}

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton def)
{
    return box(Kind::Information, parent, title, text, buttons, def);
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton def)
{
    return box(Kind::Question, parent, title, text, buttons, def);
}

void notify(QWidget *parent, Kind kind, const QString &title, const QString &text)
{
    State &s = state();
    {
        QMutexLocker lock(&s.mutex);
        if (s.testMode) {
            s.records.append(Record{kind, title, text, QMessageBox::Ok});
            return;
        }
    }
    qWarning().noquote() << title + QStringLiteral(": ") + text;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication *>(app))
        return;
    QPointer<QWidget> owner(parent);
    QMetaObject::invokeMethod(
        app,
        [owner, kind, title, text] {
            QMessageBox::Icon icon = QMessageBox::Critical;
            if (kind == Kind::Warning)
                icon = QMessageBox::Warning;
            else if (kind == Kind::Information)
                icon = QMessageBox::Information;
            auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, owner.data());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setModal(false);
            box->setWindowModality(Qt::NonModal);
            box->show();
        },
        Qt::QueuedConnection);
}

QString getText(QWidget *parent, const QString &title, const QString &label, const QString &initial, bool *ok)
{
    QString reply;
    bool answered = false;
    if (scriptedText(Kind::TextInput, title, label, &reply, &answered)) {
        if (!answered) {
            if (ok)
                *ok = true;
            return initial;
        }
        if (ok)
            *ok = !reply.isNull();
        return reply.isNull() ? QString() : reply;
    }
    if (!onGuiThread()) {
        qWarning().noquote() << title + QStringLiteral(": no input possible here: ") + label;
        if (ok)
            *ok = false;
        return QString();
    }
    return QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, ok);
}

QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    QString reply;
    bool answered = false;
    if (scriptedText(Kind::OpenFile, caption, dir, &reply, &answered))
        return answered ? reply : QString();
    if (!onGuiThread())
        return QString();
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    QString reply;
    bool answered = false;
    if (scriptedText(Kind::SaveFile, caption, dir, &reply, &answered))
        return answered ? reply : QString();
    if (!onGuiThread())
        return QString();
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir, bool resolveLinks)
{
    QString reply;
    bool answered = false;
    if (scriptedText(Kind::Directory, caption, dir, &reply, &answered))
        return answered ? reply : QString();
    QFileDialog::Options options = QFileDialog::ShowDirsOnly;
    if (!resolveLinks)
        options |= QFileDialog::DontResolveSymlinks;
    if (!onGuiThread())
        return QString();
    return QFileDialog::getExistingDirectory(parent, caption, dir, options);
}

void setTestMode(bool on)
{
    QMutexLocker lock(&state().mutex);
    state().testMode = on;
}

bool testMode()
{
    QMutexLocker lock(&state().mutex);
    return state().testMode;
}

QList<Record> records()
{
    QMutexLocker lock(&state().mutex);
    return state().records;
}

int count()
{
    QMutexLocker lock(&state().mutex);
    return state().records.size();
}

Record last()
{
    QMutexLocker lock(&state().mutex);
    return state().records.isEmpty() ? Record{Kind::Information, {}, {}, QMessageBox::NoButton}
                                     : state().records.last();
}

void clearRecords()
{
    QMutexLocker lock(&state().mutex);
    state().records.clear();
}

void pushButtonReply(QMessageBox::StandardButton button)
{
    QMutexLocker lock(&state().mutex);
    state().buttonReplies.enqueue(button);
}

void pushTextReply(const QString &text)
{
    QMutexLocker lock(&state().mutex);
    state().textReplies.enqueue(text);
}

void clearReplies()
{
    QMutexLocker lock(&state().mutex);
    state().buttonReplies.clear();
    state().textReplies.clear();
}

} // namespace Notice
