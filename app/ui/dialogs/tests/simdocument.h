#pragma once

// A document in local mode on the simulated instrument, with its program folder and database in
// a temporary folder.

#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/driverlock.h"
#include "document/kestradoc.h"
#include "history/historydb.h"

#include <kestrasim/simulator.h>

#include <QTemporaryDir>
#include <QTest>

#include <memory>

class SimDocument {
public:
    // Call from initTestCase; QVERIFY failures leave sim null.
    void start(kestra::sim::Options options = {})
    {
        QVERIFY(home.isValid());
        QVERIFY(ProgramFolder::setPath(home.path()));
        DeviceState::setDriverLogFolder(home.path());
        options.linkPath = home.filePath(QStringLiteral("port")).toStdString();
        options.liveHistory = false;
        sim = std::make_unique<kestra::sim::Simulator>(options);
        std::string error;
        QVERIFY2(sim->start(&error), error.c_str());

        ProgramConfig& c = ProgramConfig::instance();
        c = ProgramConfig();
        c.iniPath = ProgramFolder::iniPath();
        c.autoDetect = false;
        c.port = QString::fromStdString(sim->slavePath());
        c.localMode = true;
        c.timeSynchronize = false;
        c.archivingInterval = 0;
        doc = std::make_unique<CKESTRADoc>();
        QVERIFY(doc->initialise());
        // The watcher's first probe opens the port and raises the connected flag.
        doc->watcherProbe();
        QVERIFY(doc->state().connected());
    }

    void stop()
    {
        if (doc)
            doc->stopBackground();
        doc.reset();
        HistoryDb::close();
        sim.reset();
    }

    QTemporaryDir home;
    std::unique_ptr<kestra::sim::Simulator> sim;
    std::unique_ptr<CKESTRADoc> doc;
};
