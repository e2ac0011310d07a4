#pragma once

#include "squad/squaddocument.h"

#include <QMainWindow>

namespace app {

// The editor window `Form1`: it owns the squad document for the whole run.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    squad::SquadDocument &document() { return *m_document; }

private:
    squad::SquadDocument *m_document;
};

} // namespace app
