#pragma once

#include <QWidget>

namespace upload {

// The upload window `Form2`.
class UploadWindow : public QWidget {
    Q_OBJECT
public:
    explicit UploadWindow(QWidget *parent = nullptr);
};

} // namespace upload
