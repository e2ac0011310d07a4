#include "uploadwindow.h"

namespace upload {

UploadWindow::UploadWindow(ui::CommonDialog &, std::function<QString()>, QWidget *parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Upload"));
}

} // namespace upload
