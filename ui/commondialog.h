#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace ui {

// The editor's common file dialog `cdb`. Like the control it stands for, it keeps FileName,
// InitDir and Flags between uses, so the next dialog starts where the last one ended, whichever
// window used it.
class CommonDialog : public QObject {
    Q_OBJECT
public:
    enum Flag : int { OverwritePrompt = 2, FileMustExist = 4096 };
    static inline const QString squadFilter =
        QStringLiteral("Squad definitions (*.xml)|*.xml|AllFiles (*.*)|*.*");

    explicit CommonDialog(QObject *parent = nullptr);

    QString fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    QString initDir() const { return m_initDir; }
    void setInitDir(const QString &dir) { m_initDir = dir; }
    int flags() const { return m_flags; }
    void setFlags(int flags) { m_flags = flags; }
    QString filter() const { return m_filter; }
    void setFilter(const QString &filter) { m_filter = filter; }

    // Modal dialogs. On acceptance FileName becomes the chosen file's full path and the call
    // returns true; a cancel returns false and puts back the path chosen last (empty if none).
    bool showOpen(QWidget *parent);
    bool showSave(QWidget *parent);

    // The filter as Qt's file dialogs take it, one entry per choice: the caption the user sees,
    // then the patterns it matches in parentheses, to be hidden by HideNameFilterDetails.
    static QStringList nameFilters(const QString &filter);
    // The folder a dialog starts in for an InitDir that may name a file, a folder or nothing.
    static QString startFolder(const QString &initDir);

    // For tests: the next dialog is not shown and answers with `path`; an empty path cancels.
    static void setNextPath(const QString &path);
    static bool hasPendingPaths();
    struct Use {
        bool save;
        QString fileName;
        QString initDir;
        int flags;
    };
    // For tests: from now on how each dialog was set up is recorded. The program itself keeps
    // no record.
    static void startRecording();
    // For tests: how each dialog was set up when it was shown since the last call, oldest first.
    static QList<Use> takeUses();

private:
    bool show(QWidget *parent, bool save);

    QString m_fileName;
    QString m_initDir;
    QString m_lastChosen;
    int m_flags = 0;
    QString m_filter = squadFilter;
};

} // namespace ui
