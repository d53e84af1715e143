#include "device/portdiscovery.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A sysfs tree in a temporary folder: class/tty/<name>/device links to a device folder whose
// driver link points into bus/.../drivers/<driver>.
class FakeSysfs {
public:
    QString root() const { return m_dir.filePath("sys"); }
    QString dev() const { return m_dir.filePath("dev"); }

    struct Usb {
        QByteArray vendor, product, manufacturer, productName;
    };

    // driver: path below the root, e.g. "bus/usb-serial/drivers/cp210x"; type: the UART
    // "type" attribute, none when empty.
    void addPort(const QString& tty, const QString& driver, const QByteArray& type = {}, const Usb* usb = nullptr)
    {
        QDir rootDir(root());
        QVERIFY(rootDir.mkpath(driver));
        QVERIFY(rootDir.mkpath("class/tty/" + tty));
        const QString usbDevice = "devices/usb1/1-" + tty;
        const QString device = usbDevice + "/1-1:1.0/" + tty;
        QVERIFY(rootDir.mkpath(device));
        QVERIFY(QFile::link(rootDir.filePath(driver), rootDir.filePath(device + "/driver")));
        QVERIFY(QFile::link(rootDir.filePath(device), rootDir.filePath("class/tty/" + tty + "/device")));
        if (!type.isEmpty())
            write("class/tty/" + tty + "/type", type + '\n');
        if (usb) {
            write(usbDevice + "/idVendor", usb->vendor + '\n');
            write(usbDevice + "/idProduct", usb->product + '\n');
            write(usbDevice + "/manufacturer", usb->manufacturer + '\n');
            write(usbDevice + "/product", usb->productName + '\n');
        }
    }

    // A tty without a device behind it (a virtual console).
    void addVirtual(const QString& tty) { QVERIFY(QDir(root()).mkpath("class/tty/" + tty)); }
    void makeEmptyMap() { QVERIFY(QDir(root()).mkpath("class/tty")); }

    QString node(const QString& tty, int mode = 0666)
    {
        QDir().mkpath(dev());
        const QString path = dev() + '/' + tty;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.close();
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }

    QTemporaryDir m_dir;

private:
    void write(const QString& relative, const QByteArray& bytes)
    {
        QFile f(QDir(root()).filePath(relative));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

struct Port {
    QString tty;
    QString driver;
    QByteArray type;
};

} // namespace

Q_DECLARE_METATYPE(QList<Port>)

class TestPortDiscovery : public QObject {
    Q_OBJECT

private slots:
    void discovery_data();
    void discovery();
    void missingRoot();
    void overlongEntryIsSkipped();
    void details();
    void stableLinkNamesTheBridge();
    void devicePath_data();
    void devicePath();
    void deniedPortNamesItsGroup();
};

void TestPortDiscovery::discovery_data()
{
    QTest::addColumn<QList<Port>>("ports");
    QTest::addColumn<QStringList>("listed"); // tty names in the expected order
    QTest::addColumn<QString>("bridge");

    const QString uart = "bus/platform/drivers/serial8250";
    QTest::newRow("plain port and Silabser bridge")
        << QList<Port>({ { "ttyUSB0", "bus/usb-serial/drivers/Silabser", "" }, { "ttyS0", uart, "4" } })
        << QStringList({ "ttyS0", "ttyUSB0" }) << "ttyUSB0";
    QTest::newRow("two ports of the Silabser driver") << QList<Port>(
        { { "ttyUSB1", "bus/usb-serial/drivers/SiLabSer", "" }, { "ttyUSB0", "bus/usb-serial/drivers/SiLabSer", "" } })
                                                      << QStringList({ "ttyUSB0", "ttyUSB1" }) << "ttyUSB0";
    QTest::newRow("upper-case SLABSER") << QList<Port>(
        { { "ttyS0", uart, "4" }, { "ttyUSB4", "bus/usb-serial/drivers/SLABSER", "" } })
                                        << QStringList({ "ttyS0", "ttyUSB4" }) << "ttyUSB4";
    QTest::newRow("two bridges, natural order") << QList<Port>(
        { { "ttyUSB10", "bus/usb-serial/drivers/cp210x", "" }, { "ttyUSB2", "bus/usb-serial/drivers/slabser", "" } })
                                                << QStringList({ "ttyUSB2", "ttyUSB10" }) << "ttyUSB2";
    QTest::newRow("cp210x bridge beside an ACM modem") << QList<Port>(
        { { "ttyACM0", "bus/usb/drivers/cdc_acm", "" }, { "ttyUSB0", "bus/usb-serial/drivers/cp210x", "" } })
                                                       << QStringList({ "ttyACM0", "ttyUSB0" }) << "ttyUSB0";
    QTest::newRow("no bridge") << QList<Port>({ { "ttyS1", uart, "4" }, { "ttyACM0", "bus/usb/drivers/cdc_acm", "" } })
                               << QStringList({ "ttyACM0", "ttyS1" }) << "";
    QTest::newRow("UART placeholders left out")
        << QList<Port>({ { "ttyS0", uart, "4" }, { "ttyS1", uart, "0" }, { "ttyS2", uart, "0" } })
        << QStringList({ "ttyS0" }) << "";
    QTest::newRow("empty map") << QList<Port>() << QStringList() << "";
}

void TestPortDiscovery::discovery()
{
    QFETCH(QList<Port>, ports);
    QFETCH(QStringList, listed);
    QFETCH(QString, bridge);

    FakeSysfs fs;
    fs.makeEmptyMap();
    fs.addVirtual("tty1");
    for (const Port& p : ports)
        fs.addPort(p.tty, p.driver, p.type);
    const PortDiscovery discovery(fs.root(), fs.dev());

    QStringList found { "kept" };
    QVERIFY(discovery.listPorts(found));
    QStringList expected { "kept" };
    for (const QString& tty : listed)
        expected << fs.dev() + '/' + tty;
    QCOMPARE(found, expected);

    QString port = "previous";
    QCOMPARE(discovery.findBridgePort(port), !bridge.isEmpty());
    QCOMPARE(port, bridge.isEmpty() ? QString() : fs.dev() + '/' + bridge);

    QList<SerialPortInfo> infos;
    QVERIFY(discovery.listPortInfos(infos));
    QCOMPARE(infos.size(), listed.size());
    for (qsizetype i = 0; i < infos.size(); ++i) {
        QCOMPARE(infos[i].portName, expected[i + 1]);
        QVERIFY(infos[i].entryName.startsWith("/bus/"));
        QCOMPARE(infos[i].entryName, infos[i].entryName.toLower());
    }
}

void TestPortDiscovery::missingRoot()
{
    QTemporaryDir dir;
    const PortDiscovery discovery(dir.filePath("nothing"), "/dev");
    QStringList list { "kept" };
    QVERIFY(!discovery.listPorts(list));
    QCOMPARE(list, QStringList({ "kept" }));
    QString port = "COM9";
    QVERIFY(!discovery.findBridgePort(port));
    QVERIFY(port.isEmpty());
    SerialPortInfo info;
    QVERIFY(!discovery.findBridgePortInfo(info));
}

void TestPortDiscovery::overlongEntryIsSkipped()
{
    // A driver path of 260 characters does not fit the entry-name buffer: the port is skipped,
    // not cut, and the next bridge wins.
    FakeSysfs fs;
    const QString base = "bus/usb-serial/drivers/cp210x-";
    const QString longDriver = base + QString(260 - 1 - base.size(), 'a');
    fs.addPort("ttyUSB0", longDriver);
    fs.addPort("ttyUSB1", base + "short");
    const PortDiscovery discovery(fs.root(), fs.dev());
    QStringList list;
    QVERIFY(discovery.listPorts(list));
    QCOMPARE(list, QStringList({ fs.dev() + "/ttyUSB1" }));
    QString port;
    QVERIFY(discovery.findBridgePort(port));
    QCOMPARE(port, fs.dev() + "/ttyUSB1");
}

void TestPortDiscovery::details()
{
    FakeSysfs fs;
    const FakeSysfs::Usb cp2102 { "10C4", "EA60", "Silicon Labs", "CP2102 USB to UART Bridge Controller" };
    fs.addPort("ttyS0", "bus/platform/drivers/serial8250", "4");
    fs.addPort("ttyUSB0", "bus/usb-serial/drivers/cp210x", "", &cp2102);
    fs.node("ttyUSB0");
    const PortDiscovery discovery(fs.root(), fs.dev());

    SerialPortInfo info;
    QVERIFY(discovery.findBridgePortInfo(info));
    QCOMPARE(info.portName, fs.dev() + "/ttyUSB0");
    QCOMPARE(info.driver, QStringLiteral("cp210x"));
    QCOMPARE(info.vendorId, QStringLiteral("10c4"));
    QCOMPARE(info.productId, QStringLiteral("ea60"));
    QCOMPARE(info.manufacturer, QStringLiteral("Silicon Labs"));
    QCOMPARE(info.product, QStringLiteral("CP2102 USB to UART Bridge Controller"));
    QCOMPARE(info.access.access, PortAccess::Allowed);
    QVERIFY(info.access.advice.isEmpty());
    QVERIFY(info.isBridge());
    QCOMPARE(
        info.description(), fs.dev() + "/ttyUSB0 - CP2102 USB to UART Bridge Controller (Silicon Labs, 10c4:ea60)");

    // The plain UART has no USB details and, here, no device node.
    QList<SerialPortInfo> infos;
    QVERIFY(discovery.listPortInfos(infos));
    QCOMPARE(infos.size(), 2);
    QCOMPARE(infos[0].driver, QStringLiteral("serial8250"));
    QVERIFY(infos[0].vendorId.isEmpty());
    QCOMPARE(infos[0].access.access, PortAccess::Missing);
    QVERIFY(infos[0].access.advice.contains(fs.dev() + "/ttyS0"));
    QCOMPARE(infos[0].description(), fs.dev() + "/ttyS0 - serial8250");
}

void TestPortDiscovery::stableLinkNamesTheBridge()
{
    // The device rule's link /dev/kestra-<serial> -> ttyUSB1 stands for the port; links that
    // dangle, point elsewhere, or are not links at all change nothing.
    FakeSysfs fs;
    const FakeSysfs::Usb cp2102 { "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller" };
    fs.addPort("ttyS0", "bus/platform/drivers/serial8250", "4");
    fs.addPort("ttyUSB0", "bus/usb/drivers/cdc_acm");
    fs.addPort("ttyUSB1", "bus/usb-serial/drivers/cp210x", "", &cp2102);
    fs.node("ttyS0");
    fs.node("ttyUSB0");
    fs.node("ttyUSB1");
    fs.node("kestra-plainfile");
    const auto link = [&](const char* target, const QString& name) {
        QVERIFY(::symlink(target, QFile::encodeName(fs.dev() + '/' + name).constData()) == 0);
    };
    link("ttyUSB1", "kestra-0001A2B3");
    link("ttyUSB1", "kestra-0002"); // a second name of the same node: the first in name order wins
    link("ttyUSB7", "kestra-gone");
    link("ttyS0", "modem");
    const PortDiscovery discovery(fs.root(), fs.dev());
    const QString stable = fs.dev() + "/kestra-0001A2B3";

    QStringList ports;
    QVERIFY(discovery.listPorts(ports));
    QCOMPARE(ports, QStringList({ fs.dev() + "/ttyS0", fs.dev() + "/ttyUSB0", stable }));
    QString port;
    QVERIFY(discovery.findBridgePort(port));
    QCOMPARE(port, stable);

    SerialPortInfo info;
    QVERIFY(discovery.findBridgePortInfo(info));
    QCOMPARE(info.portName, stable);
    QCOMPARE(info.ttyName, QStringLiteral("ttyUSB1"));
    QCOMPARE(info.access.access, PortAccess::Allowed);
    QCOMPARE(info.access.devicePath, stable);
    QCOMPARE(
        info.description(), stable + " (ttyUSB1) - CP2102 USB to UART Bridge Controller (Silicon Labs, 10c4:ea60)");
}

void TestPortDiscovery::devicePath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << "COM1"
                          << "/d/ttyS0";
    QTest::newRow("com10") << "com10"
                           << "/d/ttyS9";
    QTest::newRow("COM0 is a bare name") << "COM0"
                                         << "/d/COM0";
    QTest::newRow("bare name") << "ttyUSB0"
                               << "/d/ttyUSB0";
    QTest::newRow("device path") << "/dev/pts/3"
                                 << "/dev/pts/3";
}

void TestPortDiscovery::devicePath()
{
    QFETCH(QString, name);
    QTEST(PortDiscovery("/s", "/d").devicePath(name), "path");
}

void TestPortDiscovery::deniedPortNamesItsGroup()
{
    FakeSysfs fs;
    const QString node = fs.node("ttyUSB0", 0660);
    group* dialout = getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : 20;
    const QString groupName = dialout ? QStringLiteral("dialout") : QString::number(gid);
    QVERIFY(::chown(QFile::encodeName(node).constData(), 0, gid) == 0 || geteuid() != 0);
    // Let another user reach the node through the temporary folders.
    ::chmod(QFile::encodeName(fs.m_dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(fs.dev()).constData(), 0755);
    const PortDiscovery discovery(fs.root(), fs.dev());

    if (geteuid() != 0) {
        struct stat st { };
        QVERIFY(::stat(QFile::encodeName(node).constData(), &st) == 0);
        if (::access(QFile::encodeName(node).constData(), R_OK | W_OK) == 0)
            QSKIP("this user may open the node");
        const PortAccessInfo info = discovery.checkAccess("ttyUSB0");
        QCOMPARE(info.access, PortAccess::Denied);
        return;
    }

    // As root every node opens: look at it as an unprivileged user in a child process.
    int pipeFds[2];
    QVERIFY(::pipe(pipeFds) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const PortAccessInfo info = discovery.checkAccess("ttyUSB0");
        const QByteArray report
            = QByteArray::number(int(info.access)) + '\n' + info.group.toUtf8() + '\n' + info.advice.toUtf8();
        if (::write(pipeFds[1], report.constData(), report.size()) != report.size())
            ::_exit(3);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    QByteArray report;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    QVERIFY(::waitpid(child, &status, 0) == child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const QList<QByteArray> parts = report.split('\n');
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0].toInt(), int(PortAccess::Denied));
    QCOMPARE(QString::fromUtf8(parts[1]), groupName);
    const QString advice = QString::fromUtf8(parts[2]);
    QVERIFY(advice.contains(node));
    QVERIFY(advice.contains("usermod -aG " + groupName));

    // The same node as seen by root: allowed.
    QCOMPARE(discovery.checkAccess(node).access, PortAccess::Allowed);
}

QTEST_GUILESS_MAIN(TestPortDiscovery)
#include "tst_portdiscovery.moc"
