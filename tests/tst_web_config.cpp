// monitor's web configuration as files an administrator writes: logins checked against bcrypt
// hashes made here, each fault in a file named, TLS files found beside it, the file read again
// when it changes with the last good one kept; and the throttle on failed logins.
#include "harness.h"
#include "login_throttle.h"
#include "web_config.h"

#include <crypt.h>

using std::chrono::milliseconds;

namespace {

// A bcrypt hash of `password` under `prefix` ("$2b$" ...), at the lowest cost.
QString bcrypt(const char* password, const char* prefix = "$2b$")
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data data{};
    if (!crypt_gensalt_rn(prefix, 4, nullptr, 0, salt, sizeof salt))
        return QString();
    return QString::fromLatin1(crypt_r(password, salt, &data));
}

} // namespace

class Tst_web_config : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QString file = dir.filePath("web.yml");
    int writes = 0;

    // Each write a second later than the last, so that its time tells it from the one before.
    void write(const QString& text, const QString& path = {})
    {
        QFile out(path.isEmpty() ? file : path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text.toUtf8());
        QVERIFY(out.setFileTime(QDateTime::currentDateTime().addSecs(++writes), QFileDevice::FileModificationTime));
    }

    QString users(const QString& alice_hash) { return "basic_auth_users:\n  alice: " + alice_hash + '\n'; }

private slots:

    void logins_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("good");
        const auto row = [](const char* name, const char* user, const char* password, bool good) {
            QTest::newRow(name) << user << password << good;
        };
        row("$2b$", "alice", "secret", true);
        row("$2y$", "bob", "hunter2", true);
        row("$2a$", "carol", "pässwörd", true);
        row("wrong password", "alice", "Secret", false);
        row("no password", "alice", "", false);
        row("another user's password", "bob", "secret", false);
        row("unknown user", "mallory", "secret", false);
    }

    // Each twice: a login that passed once passes again, a wrong one never does.
    void logins()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, good);
        write(QStringLiteral("basic_auth_users:\n  alice: '%1'\n  bob: '%2'\n  carol: '%3'\n")
                  .arg(bcrypt("secret"), bcrypt("hunter2", "$2y$"), bcrypt("pässwörd", "$2a$")));
        const Web_config config(file);
        QCOMPARE(config.fault(), QString());
        QCOMPARE(config.check(user, password), good);
        QCOMPARE(config.check(user, password), good);
    }

    void faults_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fault");
        const auto row = [](const char* name, const QString& text, const QString& fault) {
            QTest::newRow(name) << text << fault;
        };
        const QString cert = "tls_server_config:\n  cert_file: cert.pem\n";
        row("no file", QString(), "web.yml: cannot read it");
        row("bad YAML", "basic_auth_users: {alice: [\n", "web.yml: not YAML: line 2");
        row("not a mapping", "basic_auth_users\n", "the file is not a mapping");
        row("unknown key", "basic_auth_user:\n  alice: x\n", "web.yml: unknown key basic_auth_user");
        row("TLS key not read here", cert + "  key_file: key.pem\n  client_ca_file: ca.pem\n",
            "tls_server_config: unknown key client_ca_file");
        row("cert without key", cert, "tls_server_config: cert_file without key_file");
        row("key without cert", "tls_server_config:\n  key_file: key.pem\n", "key_file without cert_file");
        row("no such cert file", cert + "  key_file: key.pem\n", "cannot read cert_file " + dir.filePath("cert.pem"));
        row("users a list", "basic_auth_users: [alice]\n", "basic_auth_users is not a mapping");
        row("a user twice", users(bcrypt("a")) + "  alice: " + bcrypt("b") + '\n', "basic_auth_users has alice twice");
        row("SHA-512 crypt", users("$6$salt$hash"), "the hash of alice is not a bcrypt hash");
        row("$2x$", users(bcrypt("secret").replace(2, 1, 'x')), "the hash of alice is not a bcrypt hash");
        row("bcrypt cut short", users(bcrypt("secret").chopped(1)), "is not a bcrypt hash");
        row("a password", users("secret"), "is not a bcrypt hash");
        row("a list for a hash", users("[x]"), "basic_auth_users: alice is not a string");
    }

    // Named with the file, and no login passes.
    void faults()
    {
        QFETCH(QString, text);
        QFETCH(QString, fault);
        QFile::remove(file);
        if (!text.isNull())
            write(text);
        const Web_config config(file);
        QVERIFY2(config.fault().startsWith(file) && config.fault().contains(fault), qPrintable(config.fault()));
        QVERIFY(!config.loaded());
        QVERIFY(!config.check("alice", "secret"));
    }

    // The TLS files beside the configuration, not beside the working folder; an empty file is
    // a good one with neither TLS nor users.
    void tls_files()
    {
        QVERIFY(QDir(dir.path()).mkpath("tls"));
        write("CERT", dir.filePath("tls/cert.pem"));
        write("KEY", dir.filePath("key.pem"));
        write(QStringLiteral("tls_server_config:\n  cert_file: tls/cert.pem\n  key_file: %1\n")
                  .arg(dir.filePath("key.pem")));
        const Web_config config(file);
        QCOMPARE(config.fault(), QString());
        const auto settings = config.settings();
        QVERIFY(settings->tls() && settings->users.empty());
        QCOMPARE(settings->cert_file, dir.filePath("tls/cert.pem"));
        QCOMPARE(settings->cert + settings->key, QByteArray("CERTKEY"));
        write("");
        QVERIFY(Web_config(file).loaded() && !Web_config(file).settings()->tls());
    }

    // A new password replaces the old; a bad file keeps it, and says so; a good one ends the fault.
    void read_again_when_changed()
    {
        write(users(bcrypt("secret")));
        Web_config config(file);
        QVERIFY(config.check("alice", "secret"));
        QVERIFY(!config.reload_if_changed());
        write(users(bcrypt("other")));
        QVERIFY(config.reload_if_changed());
        QVERIFY(!config.check("alice", "secret"));
        QVERIFY(config.check("alice", "other"));
        write(users("plain"));
        QVERIFY(config.reload_if_changed());
        QVERIFY2(config.fault().endsWith(
                     "not a bcrypt hash ($2a$, $2b$ or $2y$); the last good configuration stays in force"),
                 qPrintable(config.fault()));
        QVERIFY(config.check("alice", "other"));
        QFile::remove(file);
        QVERIFY(config.reload_if_changed());
        QVERIFY(config.fault().contains("cannot read it") && config.check("alice", "other"));
        write(users(bcrypt("third")));
        QVERIFY(config.reload_if_changed());
        QCOMPARE(config.fault(), QString());
        QVERIFY(config.check("alice", "third") && !config.check("alice", "other"));
    }

    // Three failures within 10 s start a 1 s wait, each one after doubles it up to 4 s; other
    // addresses, failures spread wider than the window and a good login owe nothing.
    void throttle()
    {
        milliseconds now(1000000);
        Login_throttle throttle({3, milliseconds(10000), milliseconds(1000), milliseconds(4000)}, [&] { return now; });
        const QString one = "192.0.2.1", other = "192.0.2.2";
        throttle.failed(one);
        throttle.failed(one);
        QCOMPARE(throttle.wait(one), milliseconds(0));
        throttle.failed(one);
        QCOMPARE(throttle.wait(one), milliseconds(1000));
        QCOMPARE(throttle.wait(other), milliseconds(0));
        now += milliseconds(400);
        QCOMPARE(throttle.wait(one), milliseconds(600));
        for (const int wait : {2000, 4000, 4000}) {
            now += throttle.wait(one);
            throttle.failed(one);
            QCOMPARE(throttle.wait(one), milliseconds(wait));
        }
        now += milliseconds(4000);
        throttle.succeeded(one);
        throttle.failed(one);
        QCOMPARE(throttle.wait(one), milliseconds(0));
        for (int i = 0; i < 5; ++i) {
            now += milliseconds(5001);
            throttle.failed(other);
        }
        QCOMPARE(throttle.wait(other), milliseconds(0));
    }
};

TAVOLINK_TEST(Tst_web_config)
#include "tst_web_config.moc"
