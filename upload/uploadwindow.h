#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace ui {
class CommonDialog;
}

namespace upload {

// The upload window `Form2`.
class UploadWindow : public QWidget {
    Q_OBJECT
public:
    // `cdb` is the editor's file dialog, shared with its Open and Save; `pictureName` reads the
    // editor's picture field when an upload starts.
    UploadWindow(ui::CommonDialog &cdb, std::function<QString()> pictureName,
                 QWidget *parent = nullptr);
};

} // namespace upload
