#include "mission/ftpxferdlg.h"
#include "platform/settingskeys.h"

#include "mission/ancillary.h"
#include "platform/notice.h"
#include "platform/paths.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The data folder is the one the recorder and the missions dialog use.
const QString &kDataDirKey = SettingsKey::LogPath;
const QString &kZipDestKey = SettingsKey::FtpDestPath;
const QString &kBackupKey = SettingsKey::FtpBackupPath;

QString readFolder(const QString &key)
{
    QSettings settings;
    return cindrel::mapCDrivePath(settings.value(key, QStringLiteral("C:\\")).toString());
}

void storeFolder(const QString &key, const QString &value)
{
    QSettings settings;
    settings.setValue(key, value);
}

} // namespace

FTPXferDlg::FTPXferDlg(QWidget *parent) : QDialog(parent)
{
    BuildForm();
    dataDir = readFolder(kDataDirKey);
    zipDestDir = readFolder(kZipDestKey);
    backupDir = readFolder(kBackupKey);
    dataDirEdit->setText(dataDir);
    zipDestEdit->setText(zipDestDir);
    backupEdit->setText(backupDir);
    FillMissionList();
    // One connection each: OK runs the transfer once.
    connect(buttons, &QDialogButtonBox::accepted, this, &FTPXferDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FTPXferDlg::reject);
    show();
}

FTPXferDlg::~FTPXferDlg() = default;

QString FTPXferDlg::NoMissionsText()
{
    return tr("No missions found");
}

void FTPXferDlg::BuildForm()
{
    setObjectName(QStringLiteral("FTPXferDlg"));
    resize(443, 503);
    setWindowTitle(tr("FTP Transfer"));

    auto *outer = new QGridLayout(this);
    outer->setObjectName(QStringLiteral("gridLayout_2"));
    auto *inner = new QGridLayout();
    inner->setObjectName(QStringLiteral("gridLayout"));

    auto *row = new QHBoxLayout();
    row->setObjectName(QStringLiteral("horizontalLayout"));
    auto *labels = new QVBoxLayout();
    labels->setObjectName(QStringLiteral("verticalLayout"));
    auto *edits = new QVBoxLayout();
    edits->setObjectName(QStringLiteral("verticalLayout_3"));
    auto *browse = new QVBoxLayout();
    browse->setObjectName(QStringLiteral("verticalLayout_2"));

    const struct {
        const char *labelName;
        QString text;
        const char *editName;
        const char *buttonName;
        QLineEdit **edit;
        QPushButton **button;
    } rows[] = {
        {"label", tr("Cindrel Data Dir"), "cindrelDataDir_le", "cindrelDataDir_pb", &dataDirEdit, &dataDirButton},
        {"label_2", tr("Zip Destination Dir"), "zipDestinationDir_le", "zipDestinationDir_pb", &zipDestEdit,
         &zipDestButton},
        {"label_3", tr("File Backup Dir"), "fileBackupDir_le", "fileBackupDir_pb", &backupEdit, &backupButton},
    };
    for (const auto &r : rows) {
        auto *label = new QLabel(r.text, this);
        label->setObjectName(QLatin1String(r.labelName));
        labels->addWidget(label);
        *r.edit = new QLineEdit(this);
        (*r.edit)->setObjectName(QLatin1String(r.editName));
        edits->addWidget(*r.edit);
        *r.button = new QPushButton(tr("Browse..."), this);
        (*r.button)->setObjectName(QLatin1String(r.buttonName));
        (*r.button)->setAutoDefault(false);
        browse->addWidget(*r.button);
    }
    row->addLayout(labels);
    row->addLayout(edits);
    row->addLayout(browse);
    inner->addLayout(row, 0, 0);

    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("listWidget"));
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    inner->addWidget(list, 1, 0);

    auto *selection = new QHBoxLayout();
    selection->setObjectName(QStringLiteral("horizontalLayout_2"));
    selectAllButton = new QPushButton(tr("Select All"), this);
    selectAllButton->setObjectName(QStringLiteral("selAll_pb"));
    selectAllButton->setAutoDefault(false);
    clearAllButton = new QPushButton(tr("Clear All"), this);
    clearAllButton->setObjectName(QStringLiteral("clrAll_pb"));
    clearAllButton->setAutoDefault(false);
    selection->addWidget(selectAllButton);
    selection->addWidget(clearAllButton);
    inner->addLayout(selection, 2, 0);

    outer->addLayout(inner, 0, 0);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    outer->addWidget(buttons, 1, 0);

    connect(dataDirButton, &QPushButton::clicked, this, &FTPXferDlg::OnBrowseDataDir);
    connect(zipDestButton, &QPushButton::clicked, this, &FTPXferDlg::OnBrowseZipDestinationDir);
    connect(backupButton, &QPushButton::clicked, this, &FTPXferDlg::OnBrowseFileBackupDir);
    connect(dataDirEdit, &QLineEdit::editingFinished, this, &FTPXferDlg::OnDataDirEdited);
    connect(zipDestEdit, &QLineEdit::editingFinished, this, &FTPXferDlg::OnZipDestinationDirEdited);
    connect(backupEdit, &QLineEdit::editingFinished, this, &FTPXferDlg::OnFileBackupDirEdited);
    connect(selectAllButton, &QPushButton::clicked, this, &FTPXferDlg::OnSelectAll);
    connect(clearAllButton, &QPushButton::clicked, this, &FTPXferDlg::OnClearAll);
}

void FTPXferDlg::FillMissionList()
{
    list->clear();
    const QStringList files =
        QDir(dataDir).entryList({QStringLiteral("*.bil")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    QStringList names;
    for (const QString &file : files) {
        const QString name = QFileInfo(file).baseName();   // up to the first "."
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    }
    for (const QString &name : names)
        list->addItem(name);
    if (names.isEmpty()) {
        auto *placeholder = new QListWidgetItem(NoMissionsText());
        placeholder->setFlags(Qt::ItemIsEnabled);   // shown, never selected
        placeholder->setData(Qt::UserRole, true);
        list->addItem(placeholder);
    }
}

QStringList FTPXferDlg::ListedMissions() const
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem *item = list->item(i);
        if (!item->data(Qt::UserRole).toBool())
            names << item->text();
    }
    return names;
}

void FTPXferDlg::accept()
{
    if (running)
        return;
    QList<QListWidgetItem *> items = list->selectedItems();
    std::sort(items.begin(), items.end(),
              [this](QListWidgetItem *a, QListWidgetItem *b) { return list->row(a) < list->row(b); });
    selected.clear();
    for (const QListWidgetItem *item : items)
        if (!item->data(Qt::UserRole).toBool())
            selected << item->text();
    if (!selected.isEmpty()) {
        running = true;
        setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        RunAncillary(2, {selected.first()});
        QApplication::restoreOverrideCursor();
        setEnabled(true);
        running = false;
    }
    QDialog::accept();
}

int FTPXferDlg::RunAncillary(int which, const QStringList &arguments)
{
    return ::RunAncillary(which, arguments);
}

QString FTPXferDlg::Browse(const QString &caption, const QString &current)
{
    return Notice::getExistingDirectory(this, caption, current);
}

void FTPXferDlg::OnBrowseDataDir()
{
    const QString dir = Browse(tr("Cindrel Data Dir"), dataDir);
    if (dir.isEmpty())
        return;
    dataDirEdit->setText(QDir::toNativeSeparators(dir));
    OnDataDirEdited();
}

void FTPXferDlg::OnBrowseZipDestinationDir()
{
    const QString dir = Browse(tr("Zip Destination Dir"), zipDestDir);
    if (dir.isEmpty())
        return;
    zipDestEdit->setText(QDir::toNativeSeparators(dir));
    OnZipDestinationDirEdited();
}

void FTPXferDlg::OnBrowseFileBackupDir()
{
    const QString dir = Browse(tr("File Backup Dir"), backupDir);
    if (dir.isEmpty())
        return;
    backupEdit->setText(QDir::toNativeSeparators(dir));
    OnFileBackupDirEdited();
}

void FTPXferDlg::OnDataDirEdited()
{
    const QString dir = dataDirEdit->text().trimmed();
    if (dir == dataDir)
        return;
    dataDir = dir;
    storeFolder(kDataDirKey, dataDir);
    FillMissionList();
}

void FTPXferDlg::OnZipDestinationDirEdited()
{
    const QString dir = zipDestEdit->text().trimmed();
    if (dir == zipDestDir)
        return;
    zipDestDir = dir;
    storeFolder(kZipDestKey, zipDestDir);
}

void FTPXferDlg::OnFileBackupDirEdited()
{
    const QString dir = backupEdit->text().trimmed();
    if (dir == backupDir)
        return;
    backupDir = dir;
    storeFolder(kBackupKey, backupDir);
}

void FTPXferDlg::OnSelectAll()
{
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem *item = list->item(i);
        if (item->flags() & Qt::ItemIsSelectable)
            item->setSelected(true);
    }
}

void FTPXferDlg::OnClearAll()
{
    list->clearSelection();
}
