#pragma once

#include "squad/memberimport.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QRadioButton;

namespace app {

// The preview of an import, before anything changes: how many members come in as new ones and
// which IDs the squad already has, each to be skipped (preset) or to replace the member.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    ImportDialog(const QString &source, int read, const squad::ImportPlan &plan,
                 QWidget *parent = nullptr);

    squad::ExistingId existingId() const;

private:
    QRadioButton *m_skip = nullptr;
    QRadioButton *m_replace = nullptr;
};

} // namespace app
