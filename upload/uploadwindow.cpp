#include "uploadwindow.h"

namespace upload {

UploadWindow::UploadWindow(QWidget *parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Upload"));
}

} // namespace upload
