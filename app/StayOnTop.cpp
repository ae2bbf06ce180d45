#include "app/StayOnTop.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct SFreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, SFreeReply>;

// The atom of that name; none when no client has made it yet, in which case no
// window carries it either.
xcb_atom_t ExistingAtom(xcb_connection_t* pConnection, const char* pszName) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        pConnection, xcb_intern_atom(pConnection, 1, uint16_t(std::strlen(pszName)), pszName),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The 32-bit values of a window's property of that type (atoms or windows).
std::vector<uint32_t> Property(xcb_connection_t* pConnection, xcb_window_t window,
                               xcb_atom_t property, xcb_atom_t type) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        pConnection, xcb_get_property(pConnection, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->type != type || reply->format != 32)
        return {};
    const auto* pValues = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(pValues, pValues + xcb_get_property_value_length(reply.get()) / 4);
}

// The root window of the screen the program shows its windows on.
xcb_window_t RootWindow(xcb_connection_t* pConnection) {
    int nScreen = 0;
    char* pszHost = nullptr;
    int nDisplay = 0;
    if (xcb_parse_display(nullptr, &pszHost, &nDisplay, &nScreen) == 0)
        nScreen = 0;
    std::free(pszHost);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(pConnection));
    for (; it.rem > 1 && nScreen > 0; --nScreen)
        xcb_screen_next(&it);
    return it.data ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

// A window manager that follows the desktop conventions (EWMH) names a check
// window on the root, and the check window names itself. Without it the
// root's list is not current: one that has gone leaves its list behind.
bool ManagerRunning(xcb_connection_t* pConnection, xcb_window_t root) {
    const xcb_atom_t check = ExistingAtom(pConnection, "_NET_SUPPORTING_WM_CHECK");
    if (check == XCB_ATOM_NONE)
        return false;
    const std::vector<uint32_t> named = Property(pConnection, root, check, XCB_ATOM_WINDOW);
    return named.size() == 1 && Property(pConnection, named[0], check, XCB_ATOM_WINDOW) == named;
}

bool X11ManagerKeepsWindowsAbove(xcb_connection_t* pConnection) {
    const xcb_window_t root = RootWindow(pConnection);
    const xcb_atom_t above = ExistingAtom(pConnection, "_NET_WM_STATE_ABOVE");
    const xcb_atom_t supported = ExistingAtom(pConnection, "_NET_SUPPORTED");
    if (root == XCB_WINDOW_NONE || above == XCB_ATOM_NONE || supported == XCB_ATOM_NONE ||
        !ManagerRunning(pConnection, root))
        return false;
    const std::vector<uint32_t> states = Property(pConnection, root, supported, XCB_ATOM_ATOM);
    return std::find(states.begin(), states.end(), above) != states.end();
}

} // namespace

bool CanKeepWindowsOnTop() {
    const QString strPlatform = QGuiApplication::platformName();
    if (strPlatform.startsWith(QStringLiteral("wayland")))
        return false;
    if (strPlatform != QStringLiteral("xcb"))
        return true;
    auto* pX11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return pX11 == nullptr || pX11->connection() == nullptr ||
           X11ManagerKeepsWindowsAbove(pX11->connection());
}
