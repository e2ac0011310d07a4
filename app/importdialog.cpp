#include "importdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace app {
namespace {

QString members(int count) {
    return count == 1 ? QStringLiteral("1 member") : QStringLiteral("%1 members").arg(count);
}

} // namespace

ImportDialog::ImportDialog(const QString &source, int read, const squad::ImportPlan &plan,
                           QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Import members"));
    auto *layout = new QVBoxLayout(this);
    auto *summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setTextFormat(Qt::PlainText);
    summary->setWordWrap(true);
    QString text = QStringLiteral("%1 read from \"%2\".\n%3 will be added.")
                       .arg(members(read), QDir::toNativeSeparators(source), members(plan.added));
    if (plan.existing == 0)
        text += QStringLiteral("\nNone of their IDs is in the squad yet.");
    summary->setText(text);
    layout->addWidget(summary);

    if (plan.existing > 0) {
        auto *existing = new QGroupBox(
            plan.existing == 1
                ? QStringLiteral("1 member has an ID that is already in the squad:")
                : QStringLiteral("%1 members have an ID that is already in the squad:")
                      .arg(plan.existing),
            this);
        auto *box = new QVBoxLayout(existing);
        auto *ids = new QListWidget(existing);
        ids->setObjectName(QStringLiteral("existingIds"));
        ids->setUniformItemSizes(true);
        ids->addItems(plan.existingIds);
        ids->setMaximumHeight(ids->sizeHintForRow(0) * 6 + 2 * ids->frameWidth());
        box->addWidget(ids);
        m_skip = new QRadioButton(QStringLiteral("&Skip them: the squad keeps its own"), existing);
        m_skip->setObjectName(QStringLiteral("skip"));
        m_skip->setChecked(true);
        m_replace = new QRadioButton(
            QStringLiteral("&Replace the squad's members of those IDs with them"), existing);
        m_replace->setObjectName(QStringLiteral("replace"));
        box->addWidget(m_skip);
        box->addWidget(m_replace);
        layout->addWidget(existing);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Import"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

squad::ExistingId ImportDialog::existingId() const {
    return m_replace && m_replace->isChecked() ? squad::ExistingId::Replace
                                               : squad::ExistingId::Skip;
}

} // namespace app
