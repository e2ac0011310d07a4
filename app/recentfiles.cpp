#include "recentfiles.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

#include "ui/messagebox.h"

namespace app {
namespace {

const QString key = QStringLiteral("recentFiles");

QSettings settings() {
    return QSettings(QStringLiteral("Troopbook"), QStringLiteral("Troopbook"));
}

} // namespace

RecentFiles::RecentFiles(QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_menu(menu) {
    // Filled when opened, so that files opened in another Troopbook meanwhile are there too.
    connect(m_menu, &QMenu::aboutToShow, this, &RecentFiles::fillMenu);
    fillMenu();
}

QStringList RecentFiles::paths() const {
    return settings().value(key).toStringList().mid(0, Kept);
}

void RecentFiles::store(const QStringList &paths) {
    settings().setValue(key, paths.mid(0, Kept));
    fillMenu();
}

void RecentFiles::add(const QString &path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = paths();
    list.removeAll(absolute);
    list.prepend(absolute);
    store(list);
}

void RecentFiles::remove(const QString &path) {
    QStringList list = paths();
    list.removeAll(path);
    store(list);
}

void RecentFiles::clear() {
    store({});
}

void RecentFiles::choose(const QString &path) {
    if (QFileInfo::exists(path)) {
        Q_EMIT chosen(path);
        return;
    }
    ui::MessageBox::show(
        qobject_cast<QWidget *>(parent()),
        QStringLiteral("\"%1\" is no longer there; it is taken off the list of recent files.")
            .arg(QDir::toNativeSeparators(path)),
        ui::MessageBox::Exclamation);
    remove(path);
}

void RecentFiles::fillMenu() {
    // Later, not now: the action being triggered may be the one that changed the list.
    const QList<QAction *> old = m_menu->actions();
    for (QAction *a : old) {
        m_menu->removeAction(a);
        a->deleteLater();
    }
    const QStringList list = paths();
    for (int i = 0; i < list.size(); ++i) {
        const QString &path = list[i];
        const QString shown = QDir::toNativeSeparators(path).replace(u'&', QStringLiteral("&&"));
        QAction *a = m_menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        a->setData(path);
        connect(a, &QAction::triggered, this, [this, path] { choose(path); });
    }
    m_menu->addSeparator();
    QAction *clearList = m_menu->addAction(QStringLiteral("&Clear list"));
    clearList->setObjectName(QStringLiteral("mnuFileRecentClear"));
    clearList->setEnabled(!list.isEmpty());
    connect(clearList, &QAction::triggered, this, &RecentFiles::clear);
}

} // namespace app
