// Smoke test of the real program: started offscreen with a temporary data
// folder, it prints its start-up lines in order, shows the defaults without
// settings, and saves its state when the system asks it to end.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>

namespace {

class ProgramStartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        QFile conf(folder.filePath("debug_log.conf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("DEBUG_STARTUP\nDEBUG_REGISTRATION\n");
        conf.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("appdata", folder.path());
        environment.insert("DEBUG_LOG_CONF", folder.filePath("debug_log.conf"));
        environment.insert("XDG_RUNTIME_DIR", folder.path());
        // The program makes its key pair: in a GnuPG home of this test only.
        ASSERT_TRUE(gnupgHome.isValid());
        environment.insert("GNUPGHOME", gnupgHome.path());
        // Requests to the management service stay on this machine.
        environment.insert("RVX4400_WEBMANAGEMENT_URL", "http://127.0.0.1:9");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(folder.path());
    }
    void TearDown() override
    {
        QProcess::execute("gpgconf", {"--homedir", gnupgHome.path(), "--kill", "all"});
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    // Reads standard error until the text appears or the time runs out.
    bool waitForOutput(const QByteArray& text, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!output.contains(text) && !deadline.hasExpired()) {
            program.waitForReadyRead(100);
            output += program.readAllStandardError();
            if (program.state() == QProcess::NotRunning) {
                output += program.readAllStandardError();
                break;
            }
        }
        return output.contains(text);
    }

    QTemporaryDir folder;
    QTemporaryDir gnupgHome{"/tmp/g.XXXXXX"};
    QProcess program;
    QByteArray output;
};

TEST_F(ProgramStartupTest, StartsWithDefaultsAndSavesStateOnTermination)
{
    {
        // The front-panel input thread reads a manual position from the
        // settings store until the very end.
        QSettings settings(folder.filePath("Talkbox/settings.ini"), QSettings::IniFormat);
        settings.setValue("enable_location", true);
        settings.setValue("s_latitude", 45.5);
        settings.setValue("s_longitude", -122.25);
    }
    program.start(RADIO_PROGRAM_PATH, QStringList());
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(waitForOutput("Using default settings (16 channels, no Halvane)\n", 20000)) << output.constData();

    const QList<QByteArray> expectedInOrder = {
        "Creating QApplication\n", "Creating MainWindow\n", "Showing MainWindow\n", "Calling a.exec()\n",
        "This is RVX4400w V1.78\n", "Cached settings length:  0\n", "Registered:  0\n",
        "Setup option for registration was selected:  0\n", "Using default settings (16 channels, no Halvane)\n",
    };
    qsizetype position = 0;
    for (const QByteArray& line : expectedInOrder) {
        const qsizetype found = output.indexOf(line, position);
        ASSERT_GE(found, 0) << "missing or out of order: " << line.constData() << "\n" << output.constData();
        position = found + line.size();
    }

    ::kill(static_cast<pid_t>(program.processId()), SIGINT);
    ASSERT_TRUE(waitForOutput("Interrupt signal ignored\n", 5000));
    EXPECT_EQ(program.state(), QProcess::Running) << "an interrupt does not end the radio";

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    output += program.readAllStandardError();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    // Every worker is asked to stop before the program ends; one still
    // inside a request (gpg, the service) is left to the end of the process,
    // which destroys nothing it uses.
    EXPECT_TRUE(output.contains("All 4 worker threads stopped\n") || output.contains("still busy at exit\n"))
        << output.constData();
    QSettings saved(folder.filePath("Talkbox/settings.ini"), QSettings::IniFormat);
    EXPECT_FALSE(saved.value("geometry").toByteArray().isEmpty()) << "window state saved on the way out";
    EXPECT_EQ(saved.value("s_latitude").toDouble(), 45.5);
}

} // namespace
