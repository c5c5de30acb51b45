// Times the main window with a large batch: 500 clips dropped as one folder (the first file's
// settings applied to the rest) until the list holds them all, then a run of them in thread
// mode, measuring the longest stall of the window's thread while progress events arrive.
//
// usage: zembra-window-bench [COUNT [TASKS_AT_ONCE]]   (500 and 2 by default)

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/ui/MainWindow.h"
#include "app/ui/OptionDialog.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"

namespace {

namespace fs = std::filesystem;
using namespace zembra;

// Ticks this often on the window's thread; a late tick is a stall.
constexpr int kTickMs = 5;

}  // namespace

int main(int argc, char** argv) {
    const int Count = argc > 1 ? std::atoi(argv[1]) : 500;
    const int AtOnce = argc > 2 ? std::atoi(argv[2]) : 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
        return 1;
    }
    char Pattern[] = "/tmp/zembra-window-bench-XXXXXX";
    if (!::mkdtemp(Pattern)) return 1;
    const fs::path Dir = Pattern;
    fs::create_directories(Dir / "clips");
    std::fprintf(stderr, "writing %d clips...\n", Count);
    for (int I = 0; I < Count; ++I) {
        testmedia::TClipSpec Spec = testmedia::SampleClip(
            testmedia::TSampleKind::Avi, (Dir / "clips" / ("c" + std::to_string(I) + ".avi")).string());
        for (auto& V : Spec.Videos) V.FrameCount = 10;
        for (auto& A : Spec.Audios) A.Duration = 0.4;
        if (const std::string Error = testmedia::WriteClip(Spec); !Error.empty()) {
            std::fprintf(stderr, "%s\n", Error.c_str());
            return 1;
        }
    }

    int Code = 0;
    {
        TfrmMain Window;
        Window.Prompts().ShowMessage = [](const QString& Text, QMessageBox::Icon) {
            std::fprintf(stderr, "box: %s\n", Text.toStdString().c_str());
        };
        Window.show();
        QTimer Dialogs;
        QObject::connect(&Dialogs, &QTimer::timeout, [] {
            if (auto* D = qobject_cast<TfrmOption*>(QApplication::activeModalWidget())) {
                if (auto* Apply = D->findChild<QCheckBox*>("chkApplyRemaining")) Apply->setChecked(true);
                D->findChild<QPushButton*>("btnOk")->click();
            }
        });
        Dialogs.start(1);

        QMimeData Data;
        Data.setUrls({QUrl::fromLocalFile(QString::fromStdString((Dir / "clips").string()))});
        QElapsedTimer Fill;
        Fill.start();
        QDragEnterEvent Enter(QPoint(100, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Window, &Enter);
        QDropEvent Drop(QPointF(100, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Window, &Drop);
        while (Window.Rows().Count() < Count && Fill.elapsed() < 120000) QApplication::processEvents();
        const double FillSeconds = Fill.elapsed() / 1000.0;
        Dialogs.stop();

        TRunSettings S = Window.Settings();
        S.ThreadMode = true;
        S.ThreadCount = std::to_string(AtOnce);
        Window.SetSettings(S);
        qint64 LongestStall = 0, Last = 0;
        QElapsedTimer Clock;
        QTimer Tick;
        QObject::connect(&Tick, &QTimer::timeout, [&] {
            const qint64 Now = Clock.elapsed();
            LongestStall = std::max(LongestStall, Now - Last - kTickMs);
            Last = Now;
        });
        Clock.start();
        Tick.start(kTickMs);
        Window.Action("btnStart")->trigger();
        while (Window.RunActive() && Clock.elapsed() < 1800000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double RunSeconds = Clock.elapsed() / 1000.0;
        int Done = 0;
        for (const TTaskRow& R : Window.Rows().Rows()) Done += R.State == TTaskState::Finished;
        std::printf("window: %d files dropped as a folder listed in %.2f s%s\n", Window.Rows().Count(),
                    FillSeconds, FillSeconds < 5.0 ? "" : " (over 5 s)");
        std::printf(
            "window: run of %d tasks, %d at once: %.1f s, %d finished, longest stall of the window's thread "
            "%lld ms\n",
            Window.Rows().Count(), AtOnce, RunSeconds, Done, static_cast<long long>(LongestStall));
        Code = Window.Rows().Count() == Count && Done == Count ? 0 : 1;
    }
    std::error_code Ec;
    fs::remove_all(Dir, Ec);
    return Code;
}
