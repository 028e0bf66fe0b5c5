// A stand-in for an outside application: it records how it was started in
// "<its folder>/arguments.<pid>" (arguments separated by NUL bytes, written
// whole by a rename), shows one window when a display is reachable, and then
// waits to be ended, at most a minute so that none outlives a broken test.
// Started with "--window-after=<milliseconds>" it shows its window that much
// later, as a program that takes its time to start up; with "--windows=<n>"
// it shows n windows, one after another. A last argument that names a file
// it can read is read as a player would, its first bytes recorded in
// "<its folder>/opened.<pid>".
#include <xcb/xcb.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string ownFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string executable(path, static_cast<std::size_t>(length));
    return executable.substr(0, executable.rfind('/'));
}

void recordArguments(int argc, char** argv)
{
    const std::string record = ownFolder() + "/arguments." + std::to_string(getpid());
    const std::string partial = record + ".partial";
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file)
        return;
    for (int i = 1; i < argc; ++i)
        std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, file);
    std::fclose(file);
    std::rename(partial.c_str(), record.c_str());
}

void recordOpenedFile(int argc, char** argv)
{
    FILE* opened = argc > 1 ? std::fopen(argv[argc - 1], "rb") : nullptr;
    if (!opened)
        return;
    char start[64];
    const auto length = std::fread(start, 1, sizeof start, opened);
    std::fclose(opened);
    const std::string record = ownFolder() + "/opened." + std::to_string(getpid());
    if (FILE* file = std::fopen(record.c_str(), "wb")) {
        std::fwrite(start, 1, length, file);
        std::fclose(file);
    }
}

xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

// A top-level window that names this process as its owner, mapped.
void showWindow(xcb_connection_t* connection)
{
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    // Painted, so that a compositor's X server (Xwayland) has something to
    // show: it maps no window that never drew.
    const std::uint32_t background = screen->white_pixel;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 100, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &background);
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atomNamed(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL,
        32, 1, &pid);
    xcb_map_window(connection, window);
    xcb_flush(connection);
}

int optionValue(int argc, char** argv, std::string_view option, int otherwise)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).starts_with(option))
            return std::atoi(argv[i] + option.size());
    }
    return otherwise;
}

} // namespace

int main(int argc, char** argv)
{
    recordOpenedFile(argc, argv);
    recordArguments(argc, argv);
    usleep(static_cast<useconds_t>(optionValue(argc, argv, "--window-after=", 0)) * 1000);
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    for (int shown = 0; shown < optionValue(argc, argv, "--windows=", 1) && !xcb_connection_has_error(connection); ++shown)
        showWindow(connection);
    alarm(60);
    for (;;)
        pause();
    xcb_disconnect(connection);
}
