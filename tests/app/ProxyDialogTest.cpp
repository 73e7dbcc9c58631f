// The proxy dialog: its layout and keys, and what OK and Cancel copy into the
// main window's HTTP client.
#include "LoaderFixture.h"

#include <string>

namespace qm::test {
namespace {

struct TProxyValues {
    std::string Proxy, ProxyPort, Username, Password;
    bool operator==(const TProxyValues&) const = default;
};

std::ostream& operator<<(std::ostream& Out, const TProxyValues& V)
{
    return Out << "{" << V.Proxy << "|" << V.ProxyPort << "|" << V.Username << "|" << V.Password << "}";
}

class ProxyDialogTest : public LoaderTest {
protected:
    void SetUp() override { CreateForm(); }

    // Opens the dialog with the proxy button; Actions run inside its modal
    // loop, the last of them ending it.
    void OpenDialog(std::vector<std::function<void()>> Steps)
    {
        for (auto& step : Steps)
            PostAction(std::move(step));
        Form->SpeedButton1.Click();
        EXPECT_FALSE(Setup->Showing());
    }

    TProxyValues Client() const
    {
        const THttpCli& c = Form->HttpCli1;
        return {c.Proxy, c.ProxyPort, c.Username, c.Password};
    }
    void Type(ui::TEdit& Edit, const std::string& Text) { Edit.SetText(Text); }
};

TEST_F(ProxyDialogTest, LayoutCaptionsAndTabOrder)
{
    TSetupForm& d = *Setup;
    ASSERT_EQ(d.Dpi(), 96u);
    EXPECT_EQ(ui::WindowText(d.Handle()), "HTTP Proxy Setup");
    RECT client{};
    GetClientRect(d.Handle(), &client);
    EXPECT_EQ(client.right, 248);
    EXPECT_EQ(client.bottom, 189);
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(d.Handle(), GWL_STYLE));
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), static_cast<DWORD>(WS_SYSMENU));
    EXPECT_EQ(GetWindow(d.Handle(), GW_OWNER), Form->Handle());
    EXPECT_FALSE(IsWindowVisible(d.Handle()));

    struct TRow {
        ui::TControl Control;
        RECT Bounds;
        const char* Text;
    };
    const TRow rows[] = {
        {d.Label1, {20, 18, 31, 14}, "Proxy:"},      {d.EProxy, {76, 16, 151, 22}, ""},
        {d.Label2, {20, 46, 53, 14}, "Proxy port:"}, {d.EProxyport, {76, 44, 151, 22}, "80"},
        {d.Label3, {20, 75, 55, 14}, "User name:"},  {d.EUser, {76, 72, 151, 22}, ""},
        {d.Label4, {20, 103, 53, 14}, "Password:"},  {d.EPass, {76, 100, 151, 22}, ""},
        {d.Button1, {38, 152, 75, 25}, "&OK"},       {d.Button2, {142, 152, 75, 25}, "&Cancel"},
    };
    for (const TRow& r : rows) {
        const RECT b = r.Control.Bounds();
        // Labels fit their width to the text in the font at hand.
        const bool label = ui::WindowText(r.Control.Handle()).back() == ':';
        EXPECT_EQ(ui::WindowText(r.Control.Handle()), r.Text);
        EXPECT_TRUE(b.left == r.Bounds.left && b.top == r.Bounds.top && (label || b.right == r.Bounds.right) &&
                    b.bottom == r.Bounds.bottom)
            << r.Text << " at " << b.left << "," << b.top << " " << b.right << "x" << b.bottom;
    }
    EXPECT_FALSE(GetWindowLongPtrA(d.EPass.Handle(), GWL_STYLE) & ES_PASSWORD) << "the password shows in clear";
    EXPECT_EQ(SendMessageA(d.EPass.Handle(), EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_TRUE(GetWindowLongPtrA(d.Button1.Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON);

    // Tab runs proxy, port, OK, Cancel, user name, password, and round again.
    const HWND order[] = {d.EProxy.Handle(), d.EProxyport.Handle(), d.Button1.Handle(), d.Button2.Handle(),
                          d.EUser.Handle(),  d.EPass.Handle(),      d.EProxy.Handle()};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(GetNextDlgTabItem(d.Handle(), order[i], FALSE), order[i + 1]) << "after tab stop " << i;
}

TEST_F(ProxyDialogTest, ShownModallyOverADisabledOwnerThenHidden)
{
    bool visible = false, ownerEnabled = true, focusInProxy = false;
    OpenDialog({[&] {
        visible = IsWindowVisible(Setup->Handle()) != FALSE;
        ownerEnabled = IsWindowEnabled(Form->Handle()) != FALSE;
        focusInProxy = Setup->EProxy.Focused();
        Setup->Button2.Click();
    }});
    EXPECT_TRUE(visible);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(focusInProxy);
    EXPECT_FALSE(IsWindowVisible(Setup->Handle()));
    EXPECT_TRUE(IsWindowEnabled(Form->Handle()));
}

TEST_F(ProxyDialogTest, OkWithTheStartingValuesMeansADirectConnection)
{
    OpenDialog({[&] { Setup->Button1.Click(); }});
    EXPECT_EQ(Client(), (TProxyValues{"", "80", "", ""}));
}

TEST_F(ProxyDialogTest, CancelKeepsTheTypedTextButCopiesNothing)
{
    OpenDialog({[&] {
        Type(Setup->EProxy, "proxy.example");
        Type(Setup->EUser, "ann");
        Setup->Button2.Click();
    }});
    EXPECT_EQ(Client(), (TProxyValues{"", "80", "", ""}));
    std::string shown;
    OpenDialog({[&] {
        shown = Setup->EProxy.Text();
        Setup->Button1.Click();
    }});
    EXPECT_EQ(shown, "proxy.example");
    EXPECT_EQ(Client(), (TProxyValues{"proxy.example", "80", "ann", ""}));
}

TEST_F(ProxyDialogTest, OkCopiesTheFourTextsUnchanged)
{
    OpenDialog({[&] {
        Type(Setup->EProxy, " 10.0.0.1:3128 ");
        Type(Setup->EProxyport, "");
        Type(Setup->EUser, "user name");
        Type(Setup->EPass, "p:w d");
        Setup->Button1.Click();
    }});
    EXPECT_EQ(Client(), (TProxyValues{" 10.0.0.1:3128 ", "", "user name", "p:w d"}));
}

// Keys reach the dialog through its own message loop: Escape does nothing,
// Enter presses the default button OK, the title bar's close gives Cancel.
TEST_F(ProxyDialogTest, EscapeDoesNotCloseEnterIsOkCloseIsCancel)
{
    auto key = [this](WPARAM Key) {
        PostMessageA(Setup->EProxy.Handle(), WM_KEYDOWN, Key, 1);
        PostMessageA(Setup->EProxy.Handle(), WM_KEYUP, Key, 0xC0000001);
    };
    bool stillShowing = false;
    OpenDialog({[&] {
                    Setup->EProxy.SetFocus();
                    Type(Setup->EProxy, "by-enter");
                    key(VK_ESCAPE);
                    PostAction([&] {
                        stillShowing = Setup->Showing();
                        key(VK_RETURN);
                    });
                }});
    EXPECT_TRUE(stillShowing);
    EXPECT_EQ(Form->HttpCli1.Proxy, "by-enter");

    OpenDialog({[&] {
        Type(Setup->EProxy, "by-close");
        SendMessageA(Setup->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    }});
    EXPECT_EQ(Form->HttpCli1.Proxy, "by-enter");
}

} // namespace
} // namespace qm::test
