#include "companionscommand.h"

#include "companions.h"

#include "ui/messagebox.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace app {
namespace {

const QString title = QStringLiteral("Write squad.dtd and squad.xsl");

QString both(const QStringList &names) {
    return names.join(QStringLiteral(" and "));
}

// Which companions to write: all, the missing ones only, or none when the user cancels.
std::optional<QStringList> chooseNames(QWidget *parent, const QString &folder) {
    QStringList all;
    for (const Companion &companion : companions())
        all << companion.name;
    const QStringList existing = existingCompanions(folder);
    if (existing.isEmpty())
        return all;
    QStringList missing = all;
    for (const QString &name : existing)
        missing.removeAll(name);
    const QString where = QDir::toNativeSeparators(folder);
    if (missing.isEmpty()) {
        const auto answer = ui::MessageBox::show(
            parent,
            QStringLiteral("%1 already exist in \"%2\".\nReplace them with the ones Troopbook "
                           "writes?")
                .arg(both(existing), where),
            ui::MessageBox::YesNo | ui::MessageBox::Question | ui::MessageBox::DefaultButton2,
            title);
        return answer == ui::MessageBox::Yes ? std::optional(all) : std::nullopt;
    }
    switch (ui::MessageBox::show(
        parent,
        QStringLiteral("%1 already exists in \"%2\".\nReplace it with the one Troopbook "
                       "writes?\n\nYes replaces it, No keeps it and writes only %3.")
            .arg(both(existing), where, both(missing)),
        ui::MessageBox::YesNoCancel | ui::MessageBox::Question | ui::MessageBox::DefaultButton2,
        title)) {
    case ui::MessageBox::Yes:
        return all;
    case ui::MessageBox::No:
        return missing;
    default:
        return std::nullopt;
    }
}

} // namespace

bool writeCompanionsBeside(QWidget *parent, const QString &squadFile) {
    const QString folder = QFileInfo(squadFile).absolutePath();
    const std::optional<QStringList> names = chooseNames(parent, folder);
    if (!names)
        return false;
    QStringList written;
    QStringList failures;
    for (const CompanionWritten &result : writeCompanions(folder, *names)) {
        if (result.failure.isEmpty())
            written << result.name;
        else
            failures << result.failure;
    }
    const QString where = QDir::toNativeSeparators(folder);
    const QString done =
        written.size() == 1
            ? QStringLiteral("%1 was written into \"%2\".").arg(written.first(), where)
            : QStringLiteral("%1 were written into \"%2\".").arg(both(written), where);
    if (!failures.isEmpty()) {
        QString text = failures.join(QStringLiteral("\n\n"));
        if (!written.isEmpty())
            text += QStringLiteral("\n\n") + done;
        ui::MessageBox::show(parent, text, ui::MessageBox::Critical, title);
    } else {
        ui::MessageBox::show(parent,
                             done + QStringLiteral("\nThe upload sends what lies beside the squad "
                                                   "file with it."),
                             ui::MessageBox::Information, title);
    }
    return !written.isEmpty();
}

} // namespace app
