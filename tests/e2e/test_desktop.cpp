// The real program on a private X server with openbox and trayer as the tray: without its rule
// database it says so in a box and creates nothing; minimising leaves only the tray icon, and a
// double-click on it or a second start brings the window back.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// $1 the program, $2 winwarden-db, $3 a private folder, $4 the steps; everything started here
// ends with the script. `shown` lists the program's viewable windows (the tray icon is
// "winwarden").
const char* const kDesktop = R"sh(
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$3/display" 2>"$3/xvfb.log" & xvfb=$!
trap 'kill $app $tray $wm $xvfb 2>/dev/null; wait' EXIT
for i in $(seq 100); do [ -s "$3/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$3/display") XDG_RUNTIME_DIR=$3 QT_QPA_PLATFORM=xcb
program=$1 log=$3/app.log
openbox >"$3/openbox.log" 2>&1 & wm=$!
wait_until() { for i in $(seq 100); do eval "$1" >/dev/null 2>&1 && return; sleep 0.1; done; }
wait_until "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"
trayer --edge bottom --align right --widthtype pixel --width 100 --height 24 & tray=$!
wait_until "xdotool search --onlyvisible --name '^panel$'"
missing() { # a key press answers the box; a program that never shows it is ended
    mkdir "$3/empty"; (cd "$3/empty" && exec "$program" 2>"$3/missing.log") & app=$!
    timeout 60 xdotool search --sync --onlyvisible --name '^winwarden$' windowfocus --sync &&
        xdotool key Return || kill $app
    wait $app
    echo "missing: $? $(ls -A "$3/empty" | wc -l)" \
        "$(grep -c "winwarden-db create '$3/empty/winwarden.mdb'" "$3/missing.log")"
}
"$2" create winwarden.mdb >/dev/null
start() {
    "$program" 2>>"$log" & app=$!
    win=$(timeout 60 xdotool search --sync --onlyvisible --name '^浏览哨兵 - winwarden$' | head -n 1)
    echo "started: $(shown) $(xdotool getwindowgeometry $win | awk '/Geometry/ {print $2}')"
}
shown() { # after the window manager has settled; a loaded machine may take seconds
    sleep 0.5
    for i in $(seq 40); do
        windows=$(xdotool search --onlyvisible --pid $app) && break
        sleep 0.25
    done
    for w in $windows; do xdotool getwindowname $w; done | sort | tr '\n' '|'
}
minimise() { xdotool windowminimize $win && echo "minimised: $(shown)"; }
tray_double_click() {
    eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --pid $app \
        --name '^winwarden$' | head -n 1)")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click --repeat 2 --delay 100 1
    echo "restored: $(shown)"
}
second_start() { # from elsewhere, the database named by its full path
    (cd / && WINWARDEN_DATABASE=$OLDPWD/winwarden.mdb timeout 10 "$program" 2>>"$log")
    echo "second start: $? $(shown)"
}
crash() { kill -9 $app && wait $app; }
missing
start
eval "$4"
)sh";

} // namespace

class TestDesktop final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Without rules the status is -1 and the command that makes them is said. The window starts
    // at its own size; a second copy ends with status 0; after a crash the next takes over.
    void trayAndSecondStart() {
        for (const QString& tool : {u"Xvfb"_s, u"openbox"_s, u"trayer"_s, u"xdotool"_s, u"xprop"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(tool + u" is missing: tools/install-deps.sh installs it"_s));
        QTemporaryDir dir, xDir;
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(u"bash"_s, {u"-c"_s, QString::fromUtf8(kDesktop), u"bash"_s,
                              qEnvironmentVariable("WINWARDEN_PROGRAM"),
                              qEnvironmentVariable("WINWARDEN_DB_TOOL"), xDir.path(),
                              u"minimise; tray_double_click; minimise; second_start; crash; "
                              u"start; minimise; second_start"_s});
        if (!run.waitForFinished(120000))
            run.kill();
        const QString started = u"started: winwarden|浏览哨兵 - winwarden| 800x571\n"_s,
                      minimised = u"minimised: winwarden|\n"_s,
                      again = u"second start: 0 winwarden|浏览哨兵 - winwarden|"_s;
        QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()).trimmed(),
                 u"missing: 255 0 1\n"_s + started + minimised +
                     u"restored: winwarden|浏览哨兵 - winwarden|\n"_s + minimised + again + u'\n' +
                     started + minimised + again);
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "test_desktop.moc"
