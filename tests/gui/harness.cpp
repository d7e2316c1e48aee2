#include "harness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include "client.h"
#include "signfunc.h"
#include "vtntree.h"

namespace {

class GtkEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!gtk_init_check(nullptr, nullptr)) {
            fprintf(stderr, "GUI tests need an X display (tests/gui/xrun starts one)\n");
            exit(1);
        }
    }
};

// Registered when the harness is linked, which every GUI test program does through GuiTest.
::testing::Environment* const gGtk = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\n");
    size_t b = s.find_last_not_of(" \t\n");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

void Collect(GtkWidget* w, const std::function<bool(GtkWidget*)>& pick, std::vector<GtkWidget*>* out)
{
    if (pick(w))
        out->push_back(w);
    if (GTK_IS_CONTAINER(w)) {
        std::vector<GtkWidget*> children;
        gtk_container_forall(
            GTK_CONTAINER(w), [](GtkWidget* c, gpointer v) { static_cast<std::vector<GtkWidget*>*>(v)->push_back(c); },
            &children);
        for (GtkWidget* c : children)
            Collect(c, pick, out);
    }
}

bool AllRowsClear(SToolbarButtonInfo* rows, int n)
{
    for (int i = 0; i < n; ++i)
        if (rows[i].button || rows[i].menuitem)
            return false;
    return true;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& cond, int timeoutMs)
{
    const long long end = NowMs() + timeoutMs;
    while (!cond()) {
        if (NowMs() >= end)
            return cond();
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return true;
}

void PumpFor(int ms)
{
    const long long end = NowMs() + ms;
    while (NowMs() < end)
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
}

std::vector<GtkWidget*> FindWidgets(GtkWidget* root, const std::function<bool(GtkWidget*)>& pick)
{
    std::vector<GtkWidget*> out;
    if (root)
        Collect(root, pick, &out);
    return out;
}

std::string WidgetCaption(GtkWidget* widget)
{
    auto labels = FindWidgets(widget, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
    return labels.empty() ? "" : Trim(gtk_label_get_text(GTK_LABEL(labels.front())));
}

std::vector<GtkWidget*> TopWindows(const std::string& title)
{
    std::vector<GtkWidget*> out;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
        GtkWindow* w = GTK_WINDOW(l->data);
        if (gtk_window_get_window_type(w) != GTK_WINDOW_TOPLEVEL || !gtk_widget_get_visible(GTK_WIDGET(w)))
            continue;
        const char* t = gtk_window_get_title(w);
        if (title.empty() || (t && title == t))
            out.push_back(GTK_WIDGET(w));
    }
    g_list_free(all);
    return out;
}

// ---- responder ----------------------------------------------------------------------------------

Responder::Responder(std::vector<Answer> script, int watchdogMs) : script_(std::move(script))
{
    poll_ = g_timeout_add(20, Poll, this);
    watchdog_ = g_timeout_add(static_cast<unsigned>(watchdogMs), Watchdog, this);
}

Responder::~Responder()
{
    for (unsigned int* id : {&poll_, &watchdog_, &click_})
        if (*id)
            g_source_remove(*id);
    if (pending_)
        g_object_unref(pending_);
}

void Responder::Add(Answer answer)
{
    script_.push_back(std::move(answer));
}

void Responder::GuardOn()
{
    guard_ = true;
    known_ = TopWindows();
}

void Responder::FailFurtherWindow()
{
    GtkWidget* grab = gtk_grab_get_current();
    GtkWidget* top = grab ? gtk_widget_get_toplevel(grab) : nullptr;
    if (top == nullptr || !GTK_IS_WINDOW(top) || !gtk_widget_get_mapped(top) ||
        std::find(known_.begin(), known_.end(), top) != known_.end())
        return;
    const char* title = gtk_window_get_title(GTK_WINDOW(top));
    std::string text;
    for (GtkWidget* w : FindWidgets(top, [](GtkWidget* x) { return GTK_IS_LABEL(x); }))
        text += std::string(text.empty() ? "" : " | ") + gtk_label_get_text(GTK_LABEL(w));
    ADD_FAILURE() << "a window after the last answer: \"" << (title ? title : "") << "\" showing \"" << text
                  << "\"";
    known_.push_back(top);
    gtk_widget_destroy(top);
}

bool Responder::WaitDone(int timeoutMs)
{
    return PumpUntil([this] { return Done() && pending_ == nullptr; }, timeoutMs);
}

gboolean Responder::Poll(gpointer p)
{
    auto* self = static_cast<Responder*>(p);
    if (self->pending_)
        return G_SOURCE_CONTINUE;
    if (self->Done()) {
        if (self->guard_)
            self->FailFurtherWindow();
        return G_SOURCE_CONTINUE;
    }
    const Answer& a = self->script_[self->next_];
    GtkWidget* win = nullptr;
    if (a.window) {
        if (gtk_widget_get_visible(a.window))
            win = a.window;
    } else {
        if (GtkWidget* grab = gtk_grab_get_current()) {
            GtkWidget* top = gtk_widget_get_toplevel(grab);
            const char* t = GTK_IS_WINDOW(top) ? gtk_window_get_title(GTK_WINDOW(top)) : nullptr;
            if (t && a.title == t && gtk_widget_get_visible(top))
                win = top;
        }
        if (win == nullptr) {
            auto found = TopWindows(a.title);
            if (!found.empty())
                win = found.back();
        }
    }
    // Answered once it is on the screen and laid out.
    if (win == nullptr || !gtk_widget_get_mapped(win) || gtk_widget_get_allocated_width(win) <= 1)
        return G_SOURCE_CONTINUE;

    SeenWindow seen;
    const char* t = gtk_window_get_title(GTK_WINDOW(win));
    seen.title = t ? t : "";
    for (GtkWidget* w : FindWidgets(win, [](GtkWidget* x) { return GTK_IS_LABEL(x); }))
        seen.labels.push_back(gtk_label_get_text(GTK_LABEL(w)));
    for (GtkWidget* w : FindWidgets(win, [](GtkWidget* x) { return GTK_IS_BUTTON(x); }))
        seen.buttons.push_back(WidgetCaption(w));
    for (GtkWidget* w : FindWidgets(win, [](GtkWidget* x) { return GTK_IS_IMAGE(x); }))
        if (gtk_image_get_storage_type(GTK_IMAGE(w)) == GTK_IMAGE_PIXBUF)
            seen.images.push_back(gtk_image_get_pixbuf(GTK_IMAGE(w)));
    gtk_widget_get_size_request(win, &seen.width, &seen.height);
    self->seen_.push_back(seen);
    self->known_.push_back(win);
    if (a.before)
        a.before(win);

    GtkWidget* target = win;
    self->pendingClose_ = a.button.empty();
    if (!self->pendingClose_) {
        const std::string caption = a.button;
        auto buttons = FindWidgets(
            win, [&caption](GtkWidget* x) { return GTK_IS_BUTTON(x) && WidgetCaption(x) == caption; });
        if (buttons.empty()) {
            ADD_FAILURE() << "no button \"" << caption << "\" in the window \"" << seen.title << "\"";
            self->pendingClose_ = true;
        } else {
            target = buttons.front();
        }
    }
    self->pending_ = GTK_WIDGET(g_object_ref(target));
    ++self->next_;
    self->click_ = g_idle_add(Click, self);
    return G_SOURCE_CONTINUE;
}

gboolean Responder::Click(gpointer p)
{
    auto* self = static_cast<Responder*>(p);
    self->click_ = 0;
    GtkWidget* target = self->pending_;
    self->pending_ = nullptr;
    if (!gtk_widget_in_destruction(target)) {
        if (self->pendingClose_)
            gtk_window_close(GTK_WINDOW(target));
        else
            gtk_button_clicked(GTK_BUTTON(target));
    }
    g_object_unref(target);
    return G_SOURCE_REMOVE;
}

gboolean Responder::Watchdog(gpointer p)
{
    auto* self = static_cast<Responder*>(p);
    self->watchdog_ = 0;
    if (self->Done() && !self->guard_)
        return G_SOURCE_REMOVE;
    if (self->Done())
        ADD_FAILURE() << "watchdog: still waiting after the last answer";
    else
        ADD_FAILURE() << "watchdog: " << self->script_.size() - self->next_ << " answer(s) not given, next \""
                      << self->script_[self->next_].title << "\"";
    CMainWindow* main = GetMainWindow();
    for (GtkWidget* w : TopWindows())
        if (main == nullptr || w != main->pWindow)
            gtk_widget_destroy(w);
    self->next_ = self->script_.size();
    return G_SOURCE_REMOVE;
}

std::vector<SeenWindow> Answering(std::vector<Answer> script, const std::function<void()>& op, int watchdogMs,
                                  const std::vector<std::string>& gone)
{
    const size_t expected = script.size();
    Responder r(std::move(script), watchdogMs);
    r.GuardOn();
    op();
    r.GuardOff();
    EXPECT_TRUE(r.WaitDone(watchdogMs)) << "answers not given";
    EXPECT_EQ(r.Seen().size(), expected) << "windows answered";
    for (const std::string& title : gone)
        EXPECT_TRUE(TopWindows(title).empty()) << "an unexpected \"" << title << "\" window left open";
    return r.Seen();
}

// ---- fixture ------------------------------------------------------------------------------------

void GuiTest::SetUp()
{
    ASSERT_EQ(cs_vtn_client_init(), 0);
    handle = -1;
    ASSERT_EQ(GetMainWindow(), nullptr);
}

CMainWindow* GuiTest::StartMainWindow()
{
    window_ = new CMainWindow;
    pMainWin = window_;
    window_->Create();
    PumpUntil([this] { return gtk_widget_get_mapped(window_->pWindow); }, 5000);
    return window_;
}

void GuiTest::CloseMainWindow()
{
    if (window_ == nullptr)
        return;
    if (GetMainWindow() == window_ && window_->pWindow)
        gtk_widget_destroy(window_->pWindow);
    delete window_;
    window_ = nullptr;
}

void GuiTest::TearDown()
{
    CloseMainWindow();
    PumpFor(20);
    EXPECT_EQ(GetMainWindow(), nullptr);
    EXPECT_TRUE(TopWindows().empty()) << TopWindows().size() << " window(s) left open";
    EXPECT_LT(handle, 0);
    EXPECT_TRUE(AllRowsClear(RemoteConToolbar, VTN_REMOTECON_ROWS));
    EXPECT_TRUE(AllRowsClear(EventNotiToolbar, VTN_EVENTNOTI_ROWS));
    EXPECT_TRUE(AllRowsClear(ArrayMenageToolbar, VTN_ARRAYMANAGE_ROWS));
    EXPECT_TRUE(AllRowsClear(DeviceMenageToolbar, VTN_DEVICEMANAGE_ROWS));
    EXPECT_TRUE(AllRowsClear(TaskManageToolbar, VTN_TASKMANAGE_ROWS));
    memset(&NewSys, 0, sizeof NewSys);
    memset(&SysInfor, 0, sizeof SysInfor);
    handle = -1;
    g_phydiskcount = g_sparediskcount = g_mirrordiskcount = g_stripediskcount = g_spandiskcount = 0;
    CVTNTree::ResetRemain();
}

// ---- pictures -----------------------------------------------------------------------------------

bool SaveWidgetPng(GtkWidget* widget, const std::string& path)
{
    // What the X server shows: drawn once more after the window is mapped, then read back.
    static bool drawn;
    drawn = false;
    gulong id = g_signal_connect_after(widget, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer) -> gboolean {
                                           drawn = true;
                                           return FALSE;
                                       }),
                                       nullptr);
    PumpUntil([widget] { return gtk_widget_get_mapped(widget); }, 5000);
    // A window that was just resized is drawn again at its new size.
    for (int attempt = 0; attempt < 20; ++attempt) {
        drawn = false;
        gtk_widget_queue_draw(widget);
        PumpUntil([] { return drawn; }, 2000);
        PumpFor(50);
        GdkWindow* w = gtk_widget_get_window(widget);
        if (drawn && w && gdk_window_get_width(w) == gtk_widget_get_allocated_width(widget) &&
            gdk_window_get_height(w) == gtk_widget_get_allocated_height(widget))
            break;
    }
    g_signal_handler_disconnect(widget, id);
    PumpFor(100);
    GdkWindow* window = gtk_widget_get_window(widget);
    if (window == nullptr)
        return false;
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                 gdk_window_get_height(window));
    if (shot == nullptr)
        return false;
    bool ok = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(shot);
    return ok;
}

std::string ScreenshotPath(const std::string& name)
{
    const char* dir = getenv("VTN_SCREENSHOT_DIR");
    if (dir && *dir)
        return std::string(dir) + "/" + name;
    const char* root = getenv("VTN_ROOT");
    return std::string(root ? root : "/tmp") + "/" + name;
}

void ExpectShot(GtkWidget* widget, const std::string& file)
{
    const std::string path = ScreenshotPath(file);
    EXPECT_TRUE(SaveWidgetPng(widget, path)) << file;
    EXPECT_FALSE(ReadFileText(path).empty()) << file;
}

std::function<void(GtkWidget*)> ShotAnswer(const std::string& file, std::function<void(GtkWidget*)> first)
{
    return [file, first](GtkWidget* w) {
        if (first)
            first(w);
        ExpectShot(w, file);
    };
}

bool ClickAt(GtkWidget* widget, int x, int y, bool ctrl)
{
    GtkWidget* top = widget ? gtk_widget_get_toplevel(widget) : nullptr;
    if (top == nullptr || !gtk_widget_get_mapped(widget))
        return false;
    int tx = 0, ty = 0, ox = 0, oy = 0;
    if (!gtk_widget_translate_coordinates(widget, top, x, y, &tx, &ty))
        return false;
    GdkWindow* window = gtk_widget_get_window(top);
    GdkDisplay* display = gdk_window_get_display(window);
    if (!GDK_IS_X11_DISPLAY(display))
        return false;
    gdk_window_get_origin(window, &ox, &oy);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(xd, &event, &error, &major, &minor))
        return false;
    const KeyCode control = XKeysymToKeycode(xd, XK_Control_L);
    XTestFakeMotionEvent(xd, -1, ox + tx, oy + ty, CurrentTime);
    if (ctrl)
        XTestFakeKeyEvent(xd, control, True, CurrentTime);
    XTestFakeButtonEvent(xd, 1, True, CurrentTime);
    XTestFakeButtonEvent(xd, 1, False, CurrentTime);
    if (ctrl)
        XTestFakeKeyEvent(xd, control, False, CurrentTime);
    XSync(xd, False);
    return true;
}

bool ClickMiddle(GtkWidget* widget, bool ctrl)
{
    return widget && ClickAt(widget, gtk_widget_get_allocated_width(widget) / 2,
                             gtk_widget_get_allocated_height(widget) / 2, ctrl);
}

bool PressKey(guint keysym, bool ctrl)
{
    GdkDisplay* display = gdk_display_get_default();
    if (!GDK_IS_X11_DISPLAY(display))
        return false;
    Display* xd = gdk_x11_display_get_xdisplay(display);
    int event = 0, error = 0, major = 0, minor = 0;
    const KeyCode key = XKeysymToKeycode(xd, keysym), control = XKeysymToKeycode(xd, XK_Control_L);
    if (!XTestQueryExtension(xd, &event, &error, &major, &minor) || key == 0)
        return false;
    if (ctrl)
        XTestFakeKeyEvent(xd, control, True, CurrentTime);
    XTestFakeKeyEvent(xd, key, True, CurrentTime);
    XTestFakeKeyEvent(xd, key, False, CurrentTime);
    if (ctrl)
        XTestFakeKeyEvent(xd, control, False, CurrentTime);
    XSync(xd, False);
    return true;
}
