#pragma once
#include <QMainWindow>

// The main window. Its construction installs the debug log handler and
// logs the two start-up messages.
class ImageViewer : public QMainWindow {
    Q_OBJECT
public:
    explicit ImageViewer(QWidget *parent = nullptr);
    ~ImageViewer() override;
};
