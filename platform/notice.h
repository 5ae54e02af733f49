#pragma once
// The one door through which every modal box of the program goes: message
// boxes, the text input box and the file dialogs. In test mode nothing is
// shown; each request is recorded and answered from a queue of scripted
// replies (or a neutral default), so tests can check titles and texts.
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace Notice {

enum class Kind { Critical, Warning, Information, Question, TextInput, OpenFile, SaveFile, Directory };

struct Record {
    Kind kind;
    QString title;
    QString text;                            // message text, input label or file dialog caption
    QMessageBox::StandardButtons buttons;    // message boxes only
};

// Message boxes. The return value is the button pressed.
QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// A box that does not wait for the operator: shown without blocking the
// caller (from any thread) and closed by the operator when convenient. For
// results that arrive while the operator is busy (a finished background job).
void notify(QWidget *parent, Kind kind, const QString &title, const QString &text);

// Text input (QInputDialog::getText). ok is false when cancelled.
QString getText(QWidget *parent, const QString &title, const QString &label,
                const QString &initial, bool *ok);

// File dialogs; an empty result means cancelled.
QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter);
QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter);
// Folders only; resolveLinks false keeps symbolic links as chosen.
QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir, bool resolveLinks = true);

// ---- test mode ----
void setTestMode(bool on);
bool testMode();
QList<Record> records();
int count();
Record last();
void clearRecords();
// Scripted replies, consumed in order. A message box takes the next button
// reply; text input and file dialogs take the next text reply (a null
// QString means cancel). Without a scripted reply a message box answers its
// default button (or the first of Ok, Yes, Cancel, No present), a text
// input answers its initial text, and a file dialog is cancelled.
void pushButtonReply(QMessageBox::StandardButton button);
void pushTextReply(const QString &text);
void clearReplies();

} // namespace Notice
