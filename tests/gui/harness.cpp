#include "harness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <gdk/gdkx.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include "client.h"
#include "locallog.h"
#include "signfunc.h"
#include "vtntree.h"

// After the test framework: Xlib's macros would clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

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

GtkWidget* FindButton(GtkWidget* root, const std::string& caption)
{
    auto found = FindWidgets(root, [&](GtkWidget* w) { return GTK_IS_BUTTON(w) && WidgetCaption(w) == caption; });
    return found.empty() ? nullptr : found.front();
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
    for (GtkWidget* w : known_)
        g_object_weak_unref(G_OBJECT(w), Forget, this);
    if (pending_)
        g_object_unref(pending_);
}

// A window destroyed is forgotten: a new window may come at its address.
void Responder::Know(GtkWidget* window)
{
    known_.push_back(window);
    g_object_weak_ref(G_OBJECT(window), Forget, this);
}

void Responder::Forget(gpointer self, GObject* gone)
{
    auto& known = static_cast<Responder*>(self)->known_;
    auto it = std::find(known.begin(), known.end(), reinterpret_cast<GtkWidget*>(gone));
    if (it != known.end())
        known.erase(it);
}

void Responder::Add(Answer answer)
{
    script_.push_back(std::move(answer));
}

void Responder::GuardOn()
{
    guard_ = true;
    for (GtkWidget* w : TopWindows())
        Know(w);
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
    Know(top);
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
    self->Know(win);
    if (a.before) {
        self->inBefore_ = true;
        a.before(win);
        self->inBefore_ = false;
    }

    GtkWidget* target = win;
    self->pendingClose_ = a.button.empty();
    self->pendingPointer_ = a.pointer;
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
    // A real click goes where the button is drawn. Until it is sent, pending_ keeps the next
    // windows of the script from being answered in the loop that waits for the frame.
    const bool pointer = self->pendingPointer_ && !self->pendingClose_;
    if (pointer && !gtk_widget_in_destruction(target) && gtk_widget_get_mapped(target))
        WaitFrame(gtk_widget_get_toplevel(target));
    if (pointer && !gtk_widget_in_destruction(target) && PointerClickAsDrawn(target)) {
        self->TakeClick();
    } else {
        self->pending_ = nullptr;
        if (gtk_widget_in_destruction(target)) {
            // gone before its answer
        } else if (self->pendingClose_) {
            gtk_window_close(GTK_WINDOW(target));
        } else if (!pointer) {
            gtk_button_clicked(GTK_BUTTON(target));
        } else {
            ADD_FAILURE() << "the button \"" << WidgetCaption(target) << "\" lies outside the screen";
            gtk_window_close(GTK_WINDOW(gtk_widget_get_toplevel(target)));  // as its close box
        }
    }
    g_object_unref(target);
    return G_SOURCE_REMOVE;
}

void Responder::TakeClick()
{
    // After the round trip the click's events are in the queue. pending_ is cleared as GTK takes the
    // release, before any handler of the click runs: a window the click opens can be answered (and
    // pending_ may hold the next answer's target when the release's handling returns).
    GdkDisplay* display = gdk_display_get_default();
    XSync(GDK_DISPLAY_XDISPLAY(display), False);
    bool released = false;
    while (!released) {
        GdkEvent* event = gdk_display_get_event(display);
        if (event == nullptr)
            break;
        if (event->type == GDK_BUTTON_RELEASE) {
            released = true;
            pending_ = nullptr;
        }
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    if (!released)
        pending_ = nullptr;  // the click reached no window of this program
}

gboolean Responder::Watchdog(gpointer p)
{
    auto* self = static_cast<Responder*>(p);
    // The test's own work on a window it was given (typing, clicks) has deadlines of its own: the
    // watchdog waits for the program only.
    if (self->inBefore_)
        return G_SOURCE_CONTINUE;
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

// ---- real input ---------------------------------------------------------------------------------

namespace {

Display* XDisplay()
{
    return GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
}

void FakeKey(guint keyval, bool press)
{
    Display* d = XDisplay();
    const KeyCode code = XKeysymToKeycode(d, keyval);
    EXPECT_NE(code, 0) << "no key for keysym " << keyval;
    if (code != 0)
        XTestFakeKeyEvent(d, code, press, CurrentTime);
}

}  // namespace

GdkRectangle ScreenRect(GtkWidget* widget)
{
    GdkRectangle r{0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget)};
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y);
    if (GdkWindow* w = gtk_widget_get_window(top))
        gdk_window_get_origin(w, &ox, &oy);
    r.x = ox + x;
    r.y = oy + y;
    return r;
}

GdkRectangle ScreenArea()
{
    GdkRectangle area{};
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &area);
    return area;
}

bool PointerClickAsDrawn(GtkWidget* widget, const std::vector<guint>& held)
{
    if (widget == nullptr || !gtk_widget_get_mapped(widget))
        return false;
    const GdkRectangle r = ScreenRect(widget);
    return PointerClickAt(r.x + r.width / 2, r.y + r.height / 2, held);
}

bool PointerClick(GtkWidget* widget, const std::vector<guint>& held)
{
    if (widget == nullptr || !gtk_widget_get_mapped(widget))
        return false;
    // Where it is drawn: a widget just added or moved has its place after the next frame.
    WaitFrame(gtk_widget_get_toplevel(widget));
    return PointerClickAsDrawn(widget, held);
}

bool PointerClickRow(GtkWidget* view, int row)
{
    GtkTreeView* tree = GTK_TREE_VIEW(view);
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_view_scroll_to_cell(tree, path, nullptr, FALSE, 0, 0);
    WaitFrame(gtk_widget_get_toplevel(view));   // scrolled there
    GdkRectangle cell{};
    gtk_tree_view_get_background_area(tree, path, gtk_tree_view_get_column(tree, 0), &cell);
    gtk_tree_path_free(path);
    int x = 0, y = 0;
    gtk_tree_view_convert_bin_window_to_widget_coords(tree, cell.x + cell.width / 2, cell.y + cell.height / 2, &x, &y);
    const GdkRectangle r = ScreenRect(view);
    return cell.height > 0 && PointerClickAt(r.x + x, r.y + y);
}

bool TypeIntoEntry(GtkWidget* entry, const std::string& text, bool paste)
{
    GtkWidget* window = gtk_widget_get_toplevel(entry);
    if (!PointerClick(entry) ||
        !PumpUntil([&] { return gtk_window_get_focus(GTK_WINDOW(window)) == entry; }))
        return false;
    PressKey(GDK_KEY_a, {GDK_KEY_Control_L});
    if (paste) {
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text.c_str(), -1);
        PressKey(GDK_KEY_v, {GDK_KEY_Control_L});
    } else if (!text.empty()) {
        TypeKeys(text);
    } else {
        PressKey(GDK_KEY_Delete);
    }
    return PumpUntil([&] { return gtk_entry_get_text(GTK_ENTRY(entry)) == text; });
}

bool PointerClickAt(int x, int y, const std::vector<guint>& held)
{
    const GdkRectangle screen = ScreenArea();
    if (x < screen.x || y < screen.y || x >= screen.x + screen.width || y >= screen.y + screen.height)
        return false;
    Display* d = XDisplay();
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    for (guint h : held)
        FakeKey(h, true);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    for (auto h = held.rbegin(); h != held.rend(); ++h)
        FakeKey(*h, false);
    XFlush(d);
    return true;
}

void PressKey(guint keyval, const std::vector<guint>& held)
{
    for (guint h : held)
        FakeKey(h, true);
    FakeKey(keyval, true);
    FakeKey(keyval, false);
    for (auto h = held.rbegin(); h != held.rend(); ++h)
        FakeKey(*h, false);
    XFlush(XDisplay());
}

void TypeKeys(const std::string& text)
{
    Display* d = XDisplay();
    for (unsigned char c : text) {
        // Printable ASCII keysyms are the characters themselves.
        const KeySym sym = c;
        const KeyCode code = XKeysymToKeycode(d, sym);
        ASSERT_NE(code, 0) << "no key for '" << c << "'";
        const bool shift = XkbKeycodeToKeysym(d, code, 0, 0) != sym;
        PressKey(sym, shift ? std::vector<guint>{GDK_KEY_Shift_L} : std::vector<guint>{});
    }
}

void WriteFailure::On()
{
    if (full_ || readOnly_)
        return;
    if (kind_ == kFullDisk) {
        full_ = std::make_unique<FileSizeLimit>(0);
        return;
    }
    // An unprivileged user must reach the folder to read it.
    if (const char* root = getenv("VTN_ROOT")) {
        EXPECT_EQ(chmod(root, 0755), 0) << root;
    }
    EXPECT_EQ(chmod(folder_.c_str(), 0555), 0) << folder_;
    readOnly_ = true;
    user_ = std::make_unique<Unprivileged>();
}

void WriteFailure::Off()
{
    full_.reset();
    user_.reset();
    if (readOnly_) {
        EXPECT_EQ(chmod(folder_.c_str(), 0755), 0) << folder_;
    }
    readOnly_ = false;
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
    ResetLocalLogState();
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

void HandleXEvents()
{
    // The reply of the round trip comes after every event the server made before it.
    XSync(XDisplay(), False);
    while (gdk_events_pending())
        gtk_main_iteration_do(FALSE);
}

void FocusX(GtkWidget* window)
{
    GdkWindow* w = gtk_widget_get_window(window);
    ASSERT_NE(w, nullptr);
    XSetInputFocus(XDisplay(), GDK_WINDOW_XID(w), RevertToParent, CurrentTime);
    HandleXEvents();
    EXPECT_TRUE(gtk_window_has_toplevel_focus(GTK_WINDOW(window)));
}

void WaitFrame(GtkWidget* top)
{
    GdkFrameClock* clock = gtk_widget_get_frame_clock(top);
    if (clock == nullptr)
        return;
    static bool painted;
    painted = false;
    const gulong id =
        g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer) { painted = true; }), nullptr);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_LAYOUT);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_AFTER_PAINT);
    EXPECT_TRUE(PumpUntil([] { return painted; }, 5000)) << "no frame";
    g_signal_handler_disconnect(clock, id);
}

void ClickWidget(GtkWidget* widget)
{
    ASSERT_TRUE(gtk_widget_get_mapped(widget)) << "a click on a widget that is not shown";
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    WaitFrame(top);
    ASSERT_GT(gtk_widget_get_allocated_width(widget), 1) << "a click on a widget without a place";
    ASSERT_TRUE(PointerClick(widget)) << "a click off the screen";
    HandleXEvents();
}

void ExpectScreenShot(const std::string& file)
{
    // Every window drawn once more, as it is now.
    for (GtkWidget* w : TopWindows()) {
        static int drawn;
        drawn = 0;
        const gulong id = g_signal_connect_after(w, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer) -> gboolean {
                                                     ++drawn;
                                                     return FALSE;
                                                 }),
                                                 nullptr);
        gtk_widget_queue_draw(w);
        EXPECT_TRUE(PumpUntil([] { return drawn > 0; }, 5000)) << file;
        g_signal_handler_disconnect(w, id);
    }
    HandleXEvents();
    const std::string path = ScreenshotPath(file);
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* shot =
        gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
    ASSERT_NE(shot, nullptr) << file;
    EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << file;
    g_object_unref(shot);
    EXPECT_FALSE(ReadFileText(path).empty()) << file;
}
