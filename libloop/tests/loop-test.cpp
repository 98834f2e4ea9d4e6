// The framework against real SDL and SDL_mixer on the dummy audio and
// offscreen video drivers: the main loop's frame trace, the tick timers on a
// clock the test drives, music on pieces the test writes, and every way the
// process ends: start-up messages, fatal messages, broken preconditions.
// Those run in children that re-run this binary ("threadsafe" death tests),
// because SDL runs threads of its own.
#include "loop/loop.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

// A row of the end table makes one C function fail: 'd' strdup, 'p' Mix_PlayMusic, 'c'
// SDL_GameControllerOpen, 'a' the next calloc of the library (linked through --wrap). They stand in
// for the real ones (reached through dlsym), so they live outside the unnamed namespace.
static char fail;
template <class F> F *real(F *, const char *name) { return reinterpret_cast<F *>(dlsym(RTLD_NEXT, name)); }
extern "C" char *strdup(const char *s) noexcept { return fail == 'd' ? nullptr : real(strdup, "strdup")(s); }
extern "C" int Mix_PlayMusic(Mix_Music *m, int n) { return fail == 'p' ? -1 : real(Mix_PlayMusic, "Mix_PlayMusic")(m, n); }
extern "C" SDL_GameController *SDL_GameControllerOpen(int i) { return fail == 'c' ? nullptr : real(SDL_GameControllerOpen, "SDL_GameControllerOpen")(i); }
extern "C" void *__real_calloc(size_t n, size_t size);
extern "C" void *__wrap_calloc(size_t n, size_t size) { return fail == 'a' ? (fail = 0, nullptr) : __real_calloc(n, size); }

namespace {

const int drivers = setenv("SDL_AUDIODRIVER", "dummy", 1) + setenv("SDL_VIDEODRIVER", "offscreen", 1);
char arg0[] = "orb", arg1[] = "--window", *args[] = {arg0, arg1, nullptr};

// Every operation records "<context><operation>[<event>]" in calls. A row of
// the frame table gives the calls expected; one marked ">k" enters context k
// when it is made (">q" quits).
std::vector<std::string> calls, want;
int objects[3];

void note(loop_t *loop, int k, char op, void *object, const std::string &event = "")
{
  // An operation gets its own context's object and runs while that context is current.
  EXPECT_TRUE(object == &objects[k] && loop_context(loop, -1) == object && loop_context(loop, 0) == &objects[0]);
  if (calls.push_back(std::to_string(k) + op + event), calls.size() > 100) abort();  // the loop does not stop
  if (const size_t n = calls.size() - 1; n < want.size() && want[n].find('>') != std::string::npos)
    want[n].back() == 'q' ? loop_quit() : loop_context_enter(loop, want[n].back() - '0');
}
template <int K> void *init(loop_t *loop, int argc, char **argv)
{  // the earlier contexts are there, no later one
  EXPECT_TRUE(argc == 2 && argv == args && !loop->ops && loop->n_ops == K + 1 && !loop_context(loop, K) &&
              (K == 0 || loop_context(loop, K - 1) == &objects[K - 1]));
  return calls.push_back(std::to_string(K) + "i"), &objects[K];
}
template <int K, char op> void call(loop_t *loop, void *object) { note(loop, K, op, object); }
template <int K> void dispatch(loop_t *loop, void *object, const SDL_Event *e)
{  // the test's events and quits
  if (e->type == SDL_USEREVENT || e->type == SDL_QUIT || e->type == SDL_APP_TERMINATING)
    note(loop, K, 'd', object, e->type == SDL_USEREVENT ? std::to_string(e->user.code) : "Q");
}
template <int K>
constexpr loop_ops_t ops = {init<K>, nullptr, call<K, 'e'>, call<K, 'l'>, call<K, 'u'>, call<K, 'r'>, dispatch<K>};
const loop_ops_t *const table[] = {&ops<0>, &ops<1>, &ops<2>, nullptr};

// The events to queue (user codes, or the two quits) and the calls expected.
constexpr int Q = SDL_QUIT, T = SDL_APP_TERMINATING;
const struct {
  std::vector<int> events;
  std::vector<std::string> calls;
} frames[] = {
    {{}, {"0u", "0r", "0u", "0r", "0u>q", "0r"}},  // no event: frames go on
    {{1, 2, Q, 3}, {"0u", "0r", "0d1", "0d2"}},
    {{1, T, 2}, {"0u", "0r", "0d1"}},                                             // quits: not dispatched
    {{}, {"0u>0", "0r>q"}},                                                       // entering the current context does nothing
    {{}, {"0u>1", "0l", "1e", "1u>2", "1l", "2e", "2u", "2r>q"}},                 // an update that switches: update, then render
    {{7, Q}, {"0u", "0r>1", "0l", "1e", "1u", "1r", "1d7"}},                      // a render that switches: update, then poll
    {{1, 2, 3, Q}, {"0u", "0r", "0d1>1", "0l", "1e", "1u", "1r", "1d2", "1d3"}},  // a dispatch: the rest waits
};

TEST(loop_frame, operations_run_in_the_order_each_situation_requires)
{
  loop_t *loop = loop_startup(2, args, table);
  EXPECT_EQ(calls, (std::vector<std::string>{"0i", "1i", "2i"}));
  int frequency, channels, open = Mix_QuerySpec(&frequency, nullptr, &channels);
  EXPECT_TRUE(open && frequency == 44100 && channels == 2 && Mix_AllocateChannels(-1) == 32);
  for (const auto &f : frames) {
    want = f.calls, calls.clear(), SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    for (SDL_Event e = {}; int code : f.events)
      e.type = code == Q || code == T ? code : SDL_USEREVENT, e.user.code = code, SDL_PushEvent(&e);
    loop_run(loop);
    for (std::string &w : want) w = w.substr(0, w.find('>'));
    EXPECT_EQ(calls, want);
    want.clear(), loop_context_enter(loop, 0);
  }
  EXPECT_EQ(loop_shutdown(loop), 0);
}

loop_t none;  // without contexts: the timers' loop, and the assertions'
uint32_t now;
const struct {
  uint32_t now;
  char op;
  unsigned timer = 0;
  uint32_t period = 0, want = 0;
} ticks[] = {
    // never reset: from the clock's start; lateness is dropped; a period of 0 fires every time
    {1250, 'q', 7, 0, 1250},
    {1000, 'r', 3},
    {1250, 'q', 3, 0, 250},
    {1260, 'e', 3, 20, 1},
    {1279, 'e', 3, 20, 0},
    {1280, 'e', 3, 20, 1},
    {1300, 'e', 5, 0, 1},
    {1300, 'e', 5, 0, 1},
    {1301, 'q', 5, 0, 1},
    // a pause, paused again, is credited to all ten from its start, at the next use of any
    {2000, 'r', 0},
    {3000, 'p'},
    {3300, 'p'},
    {3500, 'q', 9, 0, 3000},
    {3600, 'q', 0, 0, 1100},
    {4000, 'p'},
    {4100, 'r', 1},
    {4200, 'q', 0, 0, 1600},
    {4200, 'q', 1, 0, 100},
    {0xffffff00, 'r', 2},
    {0x100, 'q', 2, 0, 0x200},
    {0xfffffff0, 'r', 4},
    {0xfffffff0, 'p'},
    {0x10, 'q', 4, 0, 0},
    {0x15, 'q', 4, 0, 5},  // across the wrap
};

TEST(loop_ticks, timers_follow_the_clock_through_pauses_late_checks_and_the_wrap)
{
  loop_clock = [] { return now; };
  for (const auto &t : ticks) {
    now = t.now;
    const uint32_t got = t.op == 'r' ? (loop_ticks_reset(&none, t.timer), 0u) : t.op == 'p' ? (loop_ticks_pause(&none), 0u)
                                                                            : t.op == 'q'   ? loop_ticks(&none, t.timer)
                                                                                            : loop_ticks_elapsed(&none, t.timer, t.period);
    EXPECT_EQ(got, t.want) << "at " << t.now << ", " << t.op << " of timer " << t.timer;
  }
}

// Starts in a fresh directory (removed at exit; children that die by exit() remove theirs too) that
// holds the controller database given and silent 16-bit stereo WAV pieces at 44100 Hz, whose data
// runs to the end of the file: "short" lasts 100 ms, the others 4 s.
loop_t *start(const std::string &database = "")
{
  static char dir[] = "/tmp/loop-XXXXXX";
  if (!mkdtemp(dir) || atexit([] { std::filesystem::remove_all(dir); }) || chdir(dir)) abort();
  if (!database.empty()) std::ofstream("gamecontrollerdb.txt") << database;
  for (const char *name : {"short", "a", "b", "c"}) {
    std::ofstream(name).write("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0"
                              "\x04\0\x10\0data\xff\xff\xff\xff",
                              44);
    std::filesystem::resize_file(name, 44 + 4 * 441 * (*name == 's' ? 10 : 400));
  }
  return loop_startup(2, args, table);
}
std::string state(loop_t *loop, Mix_Music *last)
{  // "[+ if reloaded]music:flags next:flags S|P|F|Z"
  const auto field = [](const char *file, uint32_t flags) { return (file ? file : "-") + (":" + std::to_string(flags)); };
  const char mode = Mix_PausedMusic() ? 'Z' : Mix_FadingMusic() == MIX_FADING_IN ? 'F'
                                          : Mix_PlayingMusic()                   ? 'P'
                                                                                 : 'S';
  return (loop->music != last ? "+" : "") + field(loop->music_file, loop->music_flags) + " " +
         field(loop->next_file, loop->next_flags) + " " + mode;
}
constexpr int REP = LOOP_MUSIC_REPEAT, FADE = LOOP_MUSIC_FADE_IN, OPT = LOOP_MUSIC_OPTIONAL, QUE = LOOP_MUSIC_QUEUE,
              KEEP = LOOP_MUSIC_KEEP;
// Steps: a file to set, or "!" halt (the hook runs at once), "~" wait for the state or "." for
// 400 ms (the hook runs on the audio thread), "P" pause, "R" resume.
const struct {
  int flags;
  const char *name, *want;
} music[] = {
    // nothing loaded: a queued piece starts; the hook repeats a piece, without its fade; KEEP keeps it
    {OPT, "missing", "-:0 -:0 S"},
    {QUE, "b", "+b:8 -:0 P"},
    {FADE | REP, "a", "+a:3 -:0 F"},
    {0, "!", "a:3 -:0 P"},
    // the last name queued wins over repetition; an optional file that fails changes nothing
    {KEEP | FADE, "a", "a:3 -:0 P"},
    {QUE | FADE, "b", "a:3 b:2 P"},
    {QUE | REP, "c", "a:3 c:1 P"},
    {OPT, "missing", "a:3 c:1 P"},
    {0, "!", "+c:1 -:0 P"},
    {KEEP, "b", "+b:16 -:0 P"},
    {0, "b", "+b:0 -:0 P"},
    // a queued optional file that fails leaves nothing queued; a replacement drops the queue before
    // its halt, whose hook would load "missing"
    {QUE | OPT, "missing", "b:0 missing:4 P"},
    {0, "!", "b:0 -:0 S"},
    {QUE, "missing", "b:0 missing:0 S"},
    {REP, "a", "+a:1 -:0 P"},
    {0, "P", "a:1 -:0 Z"},
    {0, "R", "a:1 -:0 P"},
    {0, "P", "a:1 -:0 Z"},
    // a new piece is never paused; one that ends without REPEAT is silent and still loaded
    {0, "short", "+short:0 -:0 P"},
    {0, "~", "short:0 -:0 S"},
    {KEEP, "short", "short:0 -:0 S"},
    // a repeating piece that ends on the audio thread starts again, unless a piece is queued
    {REP, "short", "+short:1 -:0 P"},
    {0, ".", "short:1 -:0 P"},
    {QUE | FADE | REP, "b", "short:1 b:3 P"},
    {0, "~", "+b:3 -:0 F"},
};

TEST(loop_music, pieces_start_keep_queue_repeat_and_end_as_their_flags_say)
{
  loop_t *loop = start();
  Mix_Music *last = nullptr;  // the piece before the step
  const auto wait_for = [](auto done) { for (int i = 0; i < 600 && !done(); i++) SDL_Delay(5); };
  for (const auto &m : music) {
    const char step = *m.name;
    step == '!' ? (void)Mix_HaltMusic() : step == 'P' ? loop_music_pause()
                                      : step == 'R'   ? loop_music_resume()
                                      : step == '~'   ? wait_for([&] { return state(loop, last) == m.want; })
                                      : step == '.'   ? SDL_Delay(400)
                                                      : loop_music_set(loop, m.flags, "%s", m.name);
    EXPECT_EQ(state(loop, std::exchange(last, loop->music)), m.want) << "after " << m.name << " with flags " << m.flags;
  }
  EXPECT_EQ(Mix_VolumeMusic(-1), 100);
  loop_music_set(loop, OPT, "%0255d", 0);      // the longest name
  const size_t before = mallinfo2().uordblks;  // nothing is lost by replacing, queueing and ending pieces
  for (int i = 0; i < 32; i++)
    for (auto [flags, name] : {std::pair{REP, "a"}, {QUE, "b"}, {QUE, "c"}, {0, "!"}, {QUE, "b"}, {0, "a"}})
      *name == '!' ? (void)Mix_HaltMusic() : loop_music_set(loop, flags, "%s", name);
  EXPECT_LE(mallinfo2().uordblks, before + 512);
}

std::string joystick()
{  // a virtual one with ids of its own, matched against the database like a real one
  SDL_VirtualJoystickDesc desc = {};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION, desc.naxes = 2, desc.vendor_id = 0x1234, desc.product_id = 0x5678;
  char guid[64];
  SDL_Init(SDL_INIT_JOYSTICK);
  return SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(SDL_JoystickAttachVirtualEx(&desc)), guid, 64), guid;
}
// Each row runs in a child: how it ends (exit 5: joystick 0 was opened), its standard error
// (all of it, or an assertion's line) and what it does.
using exited = testing::ExitedWithCode;
using killed = testing::KilledBySignal;
const struct {
  std::function<bool(int)> end;
  const char *err;
  void (*run)();
} ends[] = {
    {exited(0), "^$", [] { start(); }},  // no database and no joystick: nothing is said
    {exited(0), "^Ignoring unrecognized joystick \"[0-9a-f]{32}\",\nadd a \"gamecontrollerdb.txt\" to use it.\n$",
     [] { joystick(), start(); }},
    {exited(5), "^$", [] { start(joystick() + ",Pad,a:b0,leftx:a0,platform:Linux,\n"); }},
    {exited(0), "^Warning: Could not open game controller \"[0-9a-f]{32}\": .*\n$",
     [] { fail = 'c', start(joystick() + ",Pad,a:b0,leftx:a0,platform:Linux,\n"); }},
    {exited(1), "^Fatal error: Unable to allocate loop_t\n$", [] { fail = 'a', start(); }},
    {exited(1), "^Fatal error: Unable to initialize SDL\n$", [] { setenv("SDL_AUDIODRIVER", "none-such", 1), start(); }},
    {exited(1), "^Fatal error: Unable to open audio\n$",
     [] { setenv("SDL_AUDIODRIVER", "disk", 1), setenv("SDL_DISKAUDIOFILE", "/nonexistent/audio", 1), start(); }},
    {exited(1), "^Fatal error: Unable to load music \"missing\", reason: \"[^\"]+\"\n$",
     [] { loop_music_set(start(), 0, "missing"); }},
    {exited(1), "^Fatal error: Unable to play music\n$", [] { fail = 'p', loop_music_set(start(), 0, "a"); }},
    // the hook that start-up installed runs inside the halt of a replacement, and cannot repeat the old piece
    // (the audio thread is stopped first: the hook holds the lock that thread takes, and SDL_Quit waits for it)
    {exited(1), "^Fatal error: Unable to loop music\n$", [] {
       auto l = start();
       loop_music_set(l, REP, "a"), SDL_QuitSubSystem(SDL_INIT_AUDIO), fail = 'p', loop_music_set(l, 0, "b"); }},
    {exited(1), "^Fatal error: Unable to dup \"a\"\n$", [] { auto l = start(); fail = 'd', loop_music_set(l, 0, "a"); }},
    {killed(SIGABRT), "Assertion `n_ops > 0' failed", [] { loop_startup(0, nullptr, table + 3); }},
    {killed(SIGABRT), "Assertion `context >= 0 && context < loop->n_ops' failed", [] { loop_context_enter(&none, -1); }},
    {killed(SIGABRT), "Assertion `context < loop->n_ops' failed", [] { loop_context(&none, 0); }},
    {killed(SIGABRT), "Assertion `timer < LOOP_TICKS_CNT' failed", [] { loop_ticks(&none, LOOP_TICKS_CNT); }},
    {killed(SIGABRT), "Assertion `length >= 0 && length <= 255' failed", [] { loop_music_set(&none, OPT, "%0256d", 0); }},
};

// A child may run for 10 s and write no file past 4 MB (the parent collects its standard error in
// one): a fault that makes it loop fails its row, and can neither hang the suite nor fill the disk.
void bound()
{
  const rlimit size = {1 << 22, 1 << 22};
  alarm(10), setrlimit(RLIMIT_FSIZE, &size);
}

TEST(loop_end, start_up_says_what_it_cannot_use_failures_stop_with_their_message_and_misuse_aborts)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const auto &x : ends)
    EXPECT_EXIT((bound(), x.run(), exit(SDL_GameControllerFromInstanceID(SDL_JoystickGetDeviceInstanceID(0)) ? 5 : 0)),
                x.end, x.err);
}

}  // namespace
