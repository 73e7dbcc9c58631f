// The download-run tests' fixture: the main window pointed at a scripted
// loopback server (tests/http/ScriptedServer.h) in this process, list.txt
// lines, compressed payloads made by the project's own LZH encoder, and
// actions that run while a transfer is under way.
#pragma once

#include "LoaderFixture.h"
#include "http/ScriptedServer.h"
#include "lzh/LzhD.h"

#include <fstream>
#include <sstream>

namespace qm::test {

// One line of list.txt: the six fields joined by TABs.
inline std::string ListLine(const std::string& Display, const std::string& DownloadSize,
                            const std::string& InstalledSize, const std::string& Remote, const std::string& Target,
                            const std::string& Flag)
{
    return Display + "\t" + DownloadSize + "\t" + InstalledSize + "\t" + Remote + "\t" + Target + "\t" + Flag;
}

inline std::string ListText(const std::vector<std::string>& Lines)
{
    std::string text;
    for (const std::string& line : Lines)
        text += line + "\r\n";
    return text;
}

// Plain in the compressed-file format, by the project's encoder.
inline std::string Compressed(const std::string& Plain)
{
    TMemoryStream in(std::vector<std::uint8_t>(Plain.begin(), Plain.end()));
    TMemoryStream out;
    TLzhD lzh;
    lzh.UseStream = true;
    lzh.InputStream = &in;
    lzh.OutputStream = &out;
    lzh.Compress();
    return out.AsString();
}

// A 200 answer with its Content-Length; Hold > 0 sends the first Hold bytes
// of the body at once and the rest 2.5 s later, so that the client can be
// interrupted in the middle.
inline TExchange Ok(const std::string& Body, std::size_t Hold = 0)
{
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n\r\n";
    if (Hold == 0)
        return {{{header + Body}}};
    return {{{header + Body.substr(0, Hold)}, {Body.substr(Hold), 2500}}};
}

inline TExchange Raw(const std::string& Bytes)
{
    return {{{Bytes}}};
}

inline std::string ReadWholeFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class LoaderRunTest : public LoaderTest {
protected:
    void SetUp() override
    {
        ui::Application().Title = "Quillmark Loader";
        CreateForm(BaseURL());
    }

    std::string BaseURL() const { return "http://" + Server.Address() + "/"; }
    // A new run of the program in the same current directory.
    void Restart()
    {
        Form->SetupForm = nullptr;
        Setup.reset();
        Form.reset();
        CreateForm(BaseURL());
    }
    std::string Prog(const std::string& Name) const { return Form->DownloadDir + "\\" + Name; }
    // The names the server was asked for, in order ("GET /name ...").
    std::vector<std::string> Requested() const
    {
        std::vector<std::string> names;
        for (const std::string& request : Server.Requests())
            names.push_back(request.substr(5, request.find(' ', 5) - 5));
        return names;
    }
    std::vector<int> RowImages() const
    {
        std::vector<int> images;
        for (int row = 0; row < Form->LV.Count(); ++row)
            images.push_back(Form->LV.ImageIndex(row));
        return images;
    }
    // Posts Action when the first document chunk of a URL ending in Remote
    // arrives: it runs from the client's wait while the transfer goes on.
    void DuringTransferOf(const std::string& Remote, std::function<void()> Action)
    {
        auto original = Form->HttpCli1.OnDocData;
        Form->HttpCli1.OnDocData = [this, original, Remote, Action, fired = false](
                                       THttpCli& Client, const void* Buffer, std::int32_t Len) mutable {
            original(Client, Buffer, Len);
            if (!fired && Client.URL.ends_with(Remote)) {
                fired = true;
                PostAction(Action);
            }
        };
    }

    void ExpectState(const char* Start, bool StartEnabled, const char* Cancel, ui::TCursor Cursor) const
    {
        EXPECT_EQ(Form->SBStart.Caption(), Start);
        EXPECT_EQ(Form->SBStart.Enabled(), StartEnabled);
        EXPECT_EQ(Form->SBCancel.Caption(), Cancel);
        EXPECT_EQ(ui::ScreenCursor(), Cursor);
    }
    void ExpectIdle() const { ExpectState("&Start", true, "&Close", ui::crDefault); }
    void ExpectTransferring() const { ExpectState("&Start", false, "&Cancel", ui::crHourGlass); }
    void ExpectComplete() const { ExpectState("&Install QM", true, "&Make Disks", ui::crDefault); }

    TScriptedServer Server;
};

} // namespace qm::test
