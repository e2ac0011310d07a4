// The editor window with 100,000 members: every step a user takes must stay within one frame.
// Each iteration includes the event processing that lays out and paints the window.
#include "app/checkwindow.h"
#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "benchsquad.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int Members = 100000;

const squad::SquadData &bigSquad() {
    static const squad::SquadData squad = makeSquad(Members);
    return squad;
}

void settle() {
    QCoreApplication::processEvents();
}

// A shown window holding the big squad.
std::unique_ptr<app::MainWindow> loadedWindow() {
    auto window = std::make_unique<app::MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qFatal("window not exposed");
    window->document().load(bigSquad());
    settle();
    return window;
}

// The big squad with its check window open. Every member of the made-up squad has an ID of 8
// digits, so the window lists 100,000 hints.
std::unique_ptr<app::MainWindow> checkedWindow() {
    auto window = loadedWindow();
    window->findChild<QAction *>("mnuToolsCheck")->trigger();
    if (!window->checkWindow() || !QTest::qWaitForWindowExposed(window->checkWindow()))
        qFatal("check window not exposed");
    settle();
    return window;
}

using WindowMaker = std::unique_ptr<app::MainWindow> (*)();

void BM_LoadIntoList(benchmark::State &state) {
    app::MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    for (auto _ : state) {
        state.PauseTiming();
        squad::SquadData copy = bigSquad();
        state.ResumeTiming();
        window.document().load(std::move(copy));
        window.setListIndex(0);
        settle();
    }
}

void BM_Add(benchmark::State &state, WindowMaker makeWindow) {
    const auto window = makeWindow();
    auto *add = window->findChild<QPushButton *>("Command4");
    for (auto _ : state) {
        QTest::mouseClick(add, Qt::LeftButton);
        settle();
    }
}

// Removes at the first, middle or last position; the squad shrinks by one member per iteration.
void BM_Remove(benchmark::State &state, WindowMaker makeWindow) {
    const auto window = makeWindow();
    auto *remove = window->findChild<QPushButton *>("Command5");
    for (auto _ : state) {
        state.PauseTiming();
        const int count = window->document().memberCount();
        const int row = state.range(0) == 0 ? 0 : state.range(0) == 1 ? count / 2 : count - 1;
        window->setListIndex(row);
        settle();
        state.ResumeTiming();
        QTest::mouseClick(remove, Qt::LeftButton);
        settle();
    }
}

void BM_SelectMember(benchmark::State &state) {
    const auto window = loadedWindow();
    int row = 0;
    for (auto _ : state) {
        row = (row + 37919) % Members;
        window->setListIndex(row);
        settle();
    }
}

void BM_SelectNextByKey(benchmark::State &state) {
    const auto window = loadedWindow();
    auto *list = window->findChild<QListView *>("List1");
    window->setListIndex(Members / 2);
    list->setFocus();
    for (auto _ : state) {
        QTest::keyClick(list, Qt::Key_Down);
        settle();
    }
}

void BM_KeystrokeInNick(benchmark::State &state, WindowMaker makeWindow) {
    const auto window = makeWindow();
    window->setListIndex(Members / 2);
    auto *nick = window->findChild<QLineEdit *>("mmbnick");
    nick->setFocus();
    for (auto _ : state) {
        QTest::keyClick(nick, Qt::Key_X);
        settle();
    }
}

// Arg 0: a digit typed and taken back. Arg 1: the last digit of another member's ID typed, so
// the two share it, and taken back: each keystroke adds or drops findings of two members far
// apart.
void BM_KeystrokeInIdWithCheck(benchmark::State &state) {
    const auto window = checkedWindow();
    const int row = Members / 2;
    window->setListIndex(row);
    auto *id = window->findChild<QLineEdit *>("mmbId");
    const QString other = window->document().cell(squad::Field::Id, 17);
    id->setText(state.range(0) == 0 ? QStringLiteral("76561198000000") : other.chopped(1));
    id->setFocus();
    id->end(false);
    settle();
    const auto last = Qt::Key(Qt::Key_0 + other.back().digitValue());
    bool typed = false;
    for (auto _ : state) {
        QTest::keyClick(id, typed ? Qt::Key_Backspace : state.range(0) == 0 ? Qt::Key_5 : last);
        typed = !typed;
        settle();
    }
    if (window->checkWindow()->findingsView()->list()->model()->rowCount() < Members ||
        window->document().cell(squad::Field::Id, row) != id->text() || id->text().size() < 7)
        qFatal("the keystrokes did not reach the squad or its check");
}

// A squad property is checked against the files on disk at each keystroke.
void BM_KeystrokeInPictureWithCheck(benchmark::State &state) {
    const auto window = checkedWindow();
    const QTemporaryDir folder;
    window->checkWindow()->setFilePath(folder.filePath("squad.xml"));
    auto *picture = window->findChild<QLineEdit *>("squadpicture");
    picture->setFocus();
    picture->end(false);
    bool typed = false;
    for (auto _ : state) {
        QTest::keyClick(picture, typed ? Qt::Key_Backspace : Qt::Key_X);
        typed = !typed;
        settle();
    }
}

// Opening a file replaces the document: the check starts over.
void BM_LoadWithCheck(benchmark::State &state) {
    const auto window = checkedWindow();
    for (auto _ : state) {
        state.PauseTiming();
        squad::SquadData copy = bigSquad();
        state.ResumeTiming();
        window->document().load(std::move(copy));
        settle();
    }
}

} // namespace

BENCHMARK(BM_LoadIntoList)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_Add, plain, loadedWindow)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Remove, plain, loadedWindow)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);
BENCHMARK(BM_SelectMember)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectNextByKey)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeystrokeInNick, plain, loadedWindow)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(500);
BENCHMARK(BM_KeystrokeInIdWithCheck)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(500);
BENCHMARK_CAPTURE(BM_KeystrokeInNick, withCheck, checkedWindow)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(500);
BENCHMARK(BM_KeystrokeInPictureWithCheck)->Unit(benchmark::kMillisecond)->Iterations(500);
BENCHMARK_CAPTURE(BM_Add, withCheck, checkedWindow)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK_CAPTURE(BM_Remove, withCheck, checkedWindow)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);
BENCHMARK(BM_LoadWithCheck)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
