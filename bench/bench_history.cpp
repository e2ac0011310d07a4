// Undo and import in the editor window: an undo must fit in one frame at 100,000 members, and
// a 10,000-row roster must reach its preview within 200 ms. Each iteration includes the event
// processing that lays out and paints the window.
#include "app/edithistory.h"
#include "app/importdialog.h"
#include "app/mainwindow.h"
#include "app/memberstransfer.h"
#include "squad/memberscsv.h"
#include "ui/commondialog.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "benchsquad.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int Members = 100000;

void settle() {
    QCoreApplication::processEvents();
}

std::unique_ptr<app::MainWindow> loadedWindow(int members) {
    auto window = std::make_unique<app::MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qFatal("window not exposed");
    window->document().load(makeSquad(members));
    window->history().restart();
    settle();
    return window;
}

// Arg: where the removed member stands (0 first, 1 middle, 2 last).
void BM_UndoRemove(benchmark::State &state) {
    const auto window = loadedWindow(Members);
    auto *remove = window->findChild<QPushButton *>("Command5");
    QAction *undo = window->findChild<QAction *>("mnuEditUndo");
    for (auto _ : state) {
        state.PauseTiming();
        const int count = window->document().memberCount();
        window->setListIndex(state.range(0) == 0 ? 0 : state.range(0) == 1 ? count / 2 : count - 1);
        QTest::mouseClick(remove, Qt::LeftButton);
        settle();
        state.ResumeTiming();
        undo->trigger();
        settle();
    }
    if (window->document().memberCount() != Members)
        qFatal("undo did not bring the member back");
}

void BM_SortByNick(benchmark::State &state) {
    const auto window = loadedWindow(Members);
    QAction *sort = window->findChild<QAction *>("mnuEditSort");
    QAction *undo = window->findChild<QAction *>("mnuEditUndo");
    for (auto _ : state) {
        sort->trigger();
        settle();
        state.PauseTiming();
        undo->trigger();
        settle();
        state.ResumeTiming();
    }
}

// From choosing the file to the preview shown: reading, matching the IDs against the squad's.
// Arg: members in the squad already.
void BM_ImportCsvToPreview(benchmark::State &state) {
    const auto window = loadedWindow(int(state.range(0)));
    const QTemporaryDir folder;
    const QString path = folder.filePath("roster.csv");
    {
        // Every tenth ID is the squad's already.
        squad::SquadData roster = makeSquad(10000);
        for (int i = 0; i < 10000; ++i) {
            if (i % 10 != 0)
                roster.mmbdata.setCell(squad::Field::Id, i, QString::number(90000000 + i));
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(squad::membersCsv(roster.mmbdata)) < 0)
            qFatal("cannot write the roster");
    }
    QAction *import = window->findChild<QAction *>("mnuFileImport");
    for (auto _ : state) {
        ui::CommonDialog::setNextPath(path);
        import->trigger();
        settle();
        app::ImportDialog *preview = window->membersTransfer().preview();
        if (!preview || !preview->isVisible())
            qFatal("no preview");
        state.PauseTiming();
        preview->reject();
        settle();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_UndoRemove)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(100);
BENCHMARK(BM_SortByNick)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ImportCsvToPreview)
    ->Arg(0)
    ->Arg(Members)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
