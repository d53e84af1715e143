#include "device/portdiscovery.h"

#include "kestracommon/portname.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The map was read into fixed buffers on the platform the configuration files come from: value
// names of 260 characters, data of 260 bytes (UTF-16). Entries that do not fit are skipped, not
// cut, so that both platforms pick the same ports.
constexpr qsizetype NameBufferChars = 260;
constexpr qsizetype DataBufferBytes = 260;

// sysfs attributes are short; read no more than this.
constexpr qint64 MaxAttributeBytes = 256;
// How far above the tty's device the USB device that owns it may sit.
constexpr int MaxUsbAncestorLevels = 6;

QString tr(const char* text)
{
    return QCoreApplication::translate("PortDiscovery", text);
}

QString readAttribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(MaxAttributeBytes)).trimmed();
}

// ttyS2 before ttyS10: runs of digits compare by value.
bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            QStringView da = QStringView(a).mid(i, ei - i);
            QStringView db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da.front() == QLatin1Char('0'))
                da = da.mid(1);
            while (db.size() > 1 && db.front() == QLatin1Char('0'))
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size();
            if (const int c = da.compare(db); c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// The driver's path as the entry's name: relative to the sysfs root when below it (so it reads
// "/bus/usb-serial/drivers/cp210x" whatever the root), lower-cased.
QString entryNameFor(const QString& driverPath, const QString& canonicalRoot)
{
    QString name = driverPath;
    if (!canonicalRoot.isEmpty() && name.startsWith(canonicalRoot + QLatin1Char('/')))
        name = name.mid(canonicalRoot.size());
    return name.toLower();
}

void readUsbDetails(const QString& deviceDir, const QString& canonicalRoot, SerialPortInfo& info)
{
    QDir dir(deviceDir);
    for (int level = 0; level <= MaxUsbAncestorLevels; ++level) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
            info.vendorId = readAttribute(dir.filePath(QStringLiteral("idVendor"))).toLower();
            info.productId = readAttribute(dir.filePath(QStringLiteral("idProduct"))).toLower();
            info.manufacturer = readAttribute(dir.filePath(QStringLiteral("manufacturer")));
            info.product = readAttribute(dir.filePath(QStringLiteral("product")));
            info.serialNumber = readAttribute(dir.filePath(QStringLiteral("serial")));
            return;
        }
        if (!dir.cdUp() || !(dir.absolutePath() + QLatin1Char('/')).startsWith(canonicalRoot + QLatin1Char('/')))
            return;
    }
}

QString groupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    group entry {};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return QString::number(gid);
    return QString::fromLocal8Bit(found->gr_name);
}

// Whether the user is listed in the group although this process does not carry it: the
// membership was granted after the session began.
bool memberOutsideSession(gid_t gid)
{
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    int count = 64;
    std::vector<gid_t> groups(count);
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count <= 0 || count > 65536)
            return false;
        groups.resize(count);
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(count);
    if (std::find(groups.begin(), groups.end(), gid) == groups.end())
        return false;
    const int own = getgroups(0, nullptr);
    if (own < 0)
        return false;
    std::vector<gid_t> current(own);
    if (getgroups(own, current.data()) < 0)
        return false;
    return getegid() != gid && std::find(current.begin(), current.end(), gid) == current.end();
}

// The stable names of the instrument's bridge: links <dev>/kestra-* to a node, by the node's
// canonical path; the first in name order when several name the same node.
QHash<QString, QString> stableLinks(const QString& deviceRoot)
{
    QHash<QString, QString> links;
    const QFileInfoList entries = QDir(deviceRoot)
                                      .entryInfoList({ QStringLiteral("kestra-*") },
                                          QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!entry.isSymLink())
            continue;
        const QString node = entry.canonicalFilePath();
        if (!node.isEmpty() && !links.contains(node))
            links.insert(node, entry.absoluteFilePath());
    }
    return links;
}

} // namespace

bool SerialPortInfo::isBridge() const
{
    return PortDiscovery::isBridgeEntry(entryName);
}

QString SerialPortInfo::description() const
{
    QString text = portName;
    if (!ttyName.isEmpty() && QFileInfo(portName).fileName() != ttyName)
        text += QStringLiteral(" (") + ttyName + QLatin1Char(')');
    QStringList details;
    if (!manufacturer.isEmpty())
        details << manufacturer;
    if (!vendorId.isEmpty() || !productId.isEmpty())
        details << vendorId + QLatin1Char(':') + productId;
    if (!product.isEmpty())
        text += QStringLiteral(" - ") + product;
    else if (!driver.isEmpty())
        text += QStringLiteral(" - ") + driver;
    if (!details.isEmpty())
        text += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    if (access.access == PortAccess::Denied)
        text += QLatin1Char(' ') + QCoreApplication::translate("PortDiscovery", "[no access]");
    return text;
}

PortDiscovery::PortDiscovery(const QString& sysfsRoot, const QString& deviceRoot)
    : m_sysfsRoot(sysfsRoot)
    , m_deviceRoot(deviceRoot)
{
}

bool PortDiscovery::isBridgeEntry(const QString& lowerName)
{
    return lowerName.contains(QLatin1String("slabser")) || lowerName.contains(QLatin1String("silabser"))
        || lowerName.contains(QLatin1String("cp210x"));
}

bool PortDiscovery::enumerate(QList<SerialPortInfo>& out, bool details, bool stopAtBridge) const
{
    const QDir ttyDir(m_sysfsRoot + QLatin1String("/class/tty"));
    if (!ttyDir.exists() || !ttyDir.isReadable())
        return false;
    const QString canonicalRoot = QFileInfo(m_sysfsRoot).canonicalFilePath();
    QStringList names = ttyDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    std::sort(names.begin(), names.end(), naturalLess);
    const QHash<QString, QString> links = stableLinks(m_deviceRoot);

    for (const QString& name : names) {
        const QString ttyPath = ttyDir.filePath(name);
        const QFileInfo driverLink(ttyPath + QLatin1String("/device/driver"));
        if (!driverLink.isSymLink())
            continue;
        const QString driverPath = driverLink.canonicalFilePath();
        if (driverPath.isEmpty())
            continue;
        // No UART answered at this address: not a port.
        if (QFileInfo::exists(ttyPath + QLatin1String("/type"))
            && readAttribute(ttyPath + QLatin1String("/type")) == QLatin1String("0"))
            continue;

        SerialPortInfo info;
        info.entryName = entryNameFor(driverPath, canonicalRoot);
        info.portName = m_deviceRoot + QLatin1Char('/') + name;
        if (info.entryName.size() >= NameBufferChars || (info.portName.size() + 1) * 2 > DataBufferBytes)
            continue;
        info.driver = QFileInfo(driverPath).fileName();
        if (stopAtBridge && !info.isBridge())
            continue;
        info.ttyName = name;
        if (!links.isEmpty()) {
            const QString link = links.value(QFileInfo(info.portName).canonicalFilePath());
            if (!link.isEmpty() && (link.size() + 1) * 2 <= DataBufferBytes)
                info.portName = link;
        }
        if (details) {
            readUsbDetails(QFileInfo(ttyPath + QLatin1String("/device")).canonicalFilePath(), canonicalRoot, info);
            info.access = checkAccess(info.portName);
        }
        out.append(info);
        if (stopAtBridge)
            break;
    }
    return true;
}

bool PortDiscovery::listPorts(QStringList& ports) const
{
    QList<SerialPortInfo> infos;
    if (!enumerate(infos, false, false))
        return false;
    for (const SerialPortInfo& info : infos)
        ports.append(info.portName);
    return true;
}

bool PortDiscovery::findBridgePort(QString& port) const
{
    port.clear();
    QList<SerialPortInfo> infos;
    if (enumerate(infos, false, true) && !infos.isEmpty())
        port = infos.first().portName;
    return !port.isEmpty();
}

bool PortDiscovery::listPortInfos(QList<SerialPortInfo>& ports) const
{
    return enumerate(ports, true, false);
}

bool PortDiscovery::findBridgePortInfo(SerialPortInfo& info) const
{
    QList<SerialPortInfo> infos;
    if (!enumerate(infos, true, true) || infos.isEmpty())
        return false;
    info = infos.first();
    return true;
}

QString PortDiscovery::devicePath(const QString& portName) const
{
    // The driver's own rule, so that the port checked here is the one the driver opens.
    return QString::fromStdString(kestra::common::portDevicePath(portName.toStdString(), m_deviceRoot.toStdString()));
}

PortAccessInfo PortDiscovery::checkAccess(const QString& portName) const
{
    PortAccessInfo result;
    result.devicePath = devicePath(portName);
    const QByteArray path = QFile::encodeName(result.devicePath);
    struct stat st { };
    if (portName.isEmpty() || ::stat(path.constData(), &st) != 0) {
        result.access = PortAccess::Missing;
        result.advice = tr("The port %1 does not exist. Check that the instrument is plugged in, or choose "
                           "another port in the program settings.")
                            .arg(result.devicePath);
        return result;
    }
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return result;
    result.access = PortAccess::Denied;
    result.group = groupName(st.st_gid);
    if (memberOutsideSession(st.st_gid)) {
        result.advice = tr("You may not open the port %1 yet: you belong to the group \"%2\" that owns it, but "
                           "this session began before you were added. Log out and in again.")
                            .arg(result.devicePath, result.group);
    } else {
        result.advice = tr("You may not open the port %1. Add your user to the group \"%2\" that owns it "
                           "(for example: sudo usermod -aG %2 $USER), then log out and in again.")
                            .arg(result.devicePath, result.group);
    }
    return result;
}
