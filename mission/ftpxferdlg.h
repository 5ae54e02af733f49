#pragma once
// The "FTP Transfer" dialog: lists the missions found in the data folder
// (one per elevation raster "*.bil", named by the file's base name) and, on
// OK, hands the first selected mission to the site's transfer script
// ("fin.bat", see mission/ancillary.h).
//
// The three folders come from the settings "LastUsed/logPath",
// "LastUsed/FtpDestPath" and "LastUsed/FtpBackupPath" (default "C:\"). Each
// "Browse..." button picks its folder and stores it at once; a new data
// folder (browsed or typed) lists its missions again. "Select All" and
// "Clear All" select and clear every mission. When the folder holds no
// mission the list shows "No missions found", which cannot be selected and
// is never handed to the script.
#include <QDialog>
#include <QString>
#include <QStringList>

class QDialogButtonBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class FTPXferDlg : public QDialog {
    Q_OBJECT
public:
    explicit FTPXferDlg(QWidget *parent = nullptr);
    ~FTPXferDlg() override;

    // Takes the selection and runs "fin.bat" with the first selected
    // mission (in list order) when there is one, then closes the dialog.
    void accept() override;

    // The launcher shared with the orthorectify worker (mission/ancillary.h).
    static int RunAncillary(int which, const QStringList &arguments);

    QString DataDir() const { return dataDir; }
    QString ZipDestinationDir() const { return zipDestDir; }
    QString FileBackupDir() const { return backupDir; }
    // Mission names taken at the last OK, in list order.
    QStringList SelectedMissions() const { return selected; }
    // Mission names currently listed (empty when none was found).
    QStringList ListedMissions() const;

    // Lists the missions of the data folder again.
    void FillMissionList();

    static QString NoMissionsText();

private slots:
    void OnBrowseDataDir();
    void OnBrowseZipDestinationDir();
    void OnBrowseFileBackupDir();
    void OnDataDirEdited();
    void OnZipDestinationDirEdited();
    void OnFileBackupDirEdited();
    void OnSelectAll();
    void OnClearAll();

private:
    void BuildForm();
    QString Browse(const QString &caption, const QString &current);

    QString dataDir;
    QString zipDestDir;
    QString backupDir;
    QStringList selected;
    bool running = false;

    QLineEdit *dataDirEdit = nullptr;
    QLineEdit *zipDestEdit = nullptr;
    QLineEdit *backupEdit = nullptr;
    QPushButton *dataDirButton = nullptr;
    QPushButton *zipDestButton = nullptr;
    QPushButton *backupButton = nullptr;
    QPushButton *selectAllButton = nullptr;
    QPushButton *clearAllButton = nullptr;
    QListWidget *list = nullptr;
    QDialogButtonBox *buttons = nullptr;
};
