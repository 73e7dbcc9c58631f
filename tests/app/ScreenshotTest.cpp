// Saves pictures of the program's windows for people to look at: run by
// scripts/screenshots.sh with QM_SCREENSHOT_DIR set (skipped otherwise).
// Each picture is the screen's pixels under the window, as a 24-bit BMP
// that the script turns into PNG.
#include "LoaderFixture.h"
#include "ScreenPicture.h"
#include "http/ScriptedServer.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace qm::test {
namespace {

// Lets the window and the X server finish drawing before the pixels are read.
void Settle(HWND Wnd)
{
    RedrawWindow(Wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 10; ++i) {
        ui::Application().ProcessMessages();
        Sleep(50);
    }
}

void SaveWindowPicture(HWND Wnd, const std::string& Path)
{
    Settle(Wnd);
    RECT area{};
    GetWindowRect(Wnd, &area);
    EXPECT_TRUE(qm::tools::SaveScreenPicture(area, Path)) << Path;
}

class ScreenshotTest : public LoaderTest {
protected:
    void SetUp() override
    {
        const char* dir = std::getenv("QM_SCREENSHOT_DIR");
        if (!dir || !*dir)
            GTEST_SKIP() << "QM_SCREENSHOT_DIR is not set";
        OutDir = dir;
    }
    std::string OutDir;
};

TEST_F(ScreenshotTest, MainWindowIdleAndProxyDialog)
{
    CreateForm();
    SaveWindowPicture(Form->Handle(), OutDir + "\\main-idle.bmp");
    PostAction([this] {
        Setup->EProxy.SetText("proxy.example");
        Setup->EUser.SetText("ann");
        Setup->EPass.SetText("secret");
        SaveWindowPicture(Setup->Handle(), OutDir + "\\proxy-dialog.bmp");
        Setup->Button2.Click();
    });
    Form->SpeedButton1.Click();
}

// A run against a loopback server: the window in the middle of the second
// file (its first bytes arrive, the rest only later) and at the end.
TEST_F(ScreenshotTest, MainWindowTransferringAndComplete)
{
    const std::string program(48000, 'p'), dictionary(150000, 'd'), setup(20000, 's');
    const auto answer = [](const std::string& Body, std::size_t Hold) {
        const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n\r\n";
        return TExchange{{{header + Body.substr(0, Hold)}, {Body.substr(Hold), 600}}};
    };
    const std::string list = "Veldra program\t48000\t48000\tveldra.bin\t{prog}\\veldra.bin\r\n"
                             "Dictionary\t150000\t150000\tdict.bin\t{prog}\\dict.bin\r\n"
                             "Setup\t20000\t20000\tsetup.exe\t{prog}\\setup.exe\r\n";
    TScriptedServer server;
    server.Script({answer(list, list.size()), answer(program, program.size()), answer(dictionary, 61440),
                   answer(setup, setup.size())});
    CreateForm("http://" + server.Address() + "/veldra/");

    bool taken = false;
    const auto shown = Form->HttpCli1.OnDocData;
    Form->HttpCli1.OnDocData = [&, shown](THttpCli& Client, const void* Buffer, std::int32_t Len) {
        shown(Client, Buffer, Len);
        if (!taken && Form->Run.CurrentIndex() == 1 && Client.RcvdCount() >= 61440) {
            taken = true;
            SaveWindowPicture(Form->Handle(), OutDir + "\\main-transferring.bmp");
        }
    };
    Form->SBStart.Click();
    EXPECT_TRUE(taken);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    SaveWindowPicture(Form->Handle(), OutDir + "\\main-complete.bmp");
}

} // namespace
} // namespace qm::test
