#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Whether the user may open a serial device node.
enum class PortAccess {
    Allowed,
    Denied, // the node exists but this user may not read and write it
    Missing, // there is no such node
};

struct PortAccessInfo {
    PortAccess access = PortAccess::Allowed;
    QString devicePath;
    QString group; // group owning the node (Denied only), usually "dialout"
    QString advice; // what the person can do about it, translated; empty when Allowed
};

// One serial port of the system's serial-port map.
struct SerialPortInfo {
    QString portName; // the device path, the text the configuration and the driver take
    QString ttyName; // the kernel's name of the port, e.g. "ttyUSB0"
    QString entryName; // the map entry's name: the sysfs path of the port's driver, lower-cased
    QString driver; // the driver's name, e.g. "cp210x"
    // What a person recognises the port by; empty when the kernel gives nothing.
    QString vendorId; // USB vendor id, 4 hex digits
    QString productId;
    QString manufacturer;
    QString product;
    QString serialNumber;
    PortAccessInfo access;

    bool isBridge() const;
    // One line for a port list, e.g. "/dev/ttyUSB0 - CP2102 USB to UART (Silicon Labs, 10c4:ea60)",
    // or "/dev/kestra-0001 (ttyUSB0) - ..." when the port is known by its stable link.
    QString description() const;
};

// Finds serial ports in the system's serial-port map, read from sysfs: every
// <sysfs>/class/tty/<name> with a device/driver link is one entry, named by its driver's path
// (which names the driver) and carrying the port path <dev>/<name>. Entries come in the natural
// order of the tty names (ttyS2 before ttyS10). A UART placeholder whose "type" is 0 has no
// hardware behind it and is left out. A port that the system's device rule names with a stable
// link <dev>/kestra-<serial number> is given by that link, which stays the same whatever tty
// number the instrument gets when it is plugged in.
class PortDiscovery {
public:
    explicit PortDiscovery(
        const QString& sysfsRoot = QStringLiteral("/sys"), const QString& deviceRoot = QStringLiteral("/dev"));

    // Appends every port name, in enumeration order. True when the map could be read (also
    // when it is empty); false, with the list unchanged, when it could not.
    bool listPorts(QStringList& ports) const;
    // Empties the text, then sets it to the port of the first entry (in enumeration order)
    // whose lower-cased name contains "slabser", "silabser" or "cp210x", the drivers of the
    // instrument's USB bridge. True when a port was found.
    bool findBridgePort(QString& port) const;

    // As listPorts, with what identifies each port and whether the user may open it.
    bool listPortInfos(QList<SerialPortInfo>& ports) const;
    // As findBridgePort, with the details of the port found.
    bool findBridgePortInfo(SerialPortInfo& info) const;

    // Whether the user may open a port. The port name is a device path, a bare name looked up
    // under the device root, or "COMn", which stands for ttyS(n-1).
    PortAccessInfo checkAccess(const QString& portName) const;
    QString devicePath(const QString& portName) const;

    // Whether a lower-cased entry name belongs to the instrument's USB bridge.
    static bool isBridgeEntry(const QString& lowerName);

private:
    bool enumerate(QList<SerialPortInfo>& out, bool details, bool stopAtBridge) const;

    QString m_sysfsRoot;
    QString m_deviceRoot;
};
