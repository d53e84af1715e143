#pragma once

// A document in local mode on the simulated instrument, with its program folder and database in
// a temporary folder.

#include "document/appcontext.h"
#include "document/kestradoc.h"

#include <kestrasim/simulator.h>

#include <QTemporaryDir>
#include <QTest>

#include <memory>

class SimDocument {
public:
    // Call from initTestCase; QVERIFY failures leave sim null. The messenger (not owned) hears
    // what the document tells.
    void start(kestra::sim::Options options = {}, Messenger* messenger = nullptr)
    {
        QVERIFY(home.isValid());
        context = std::make_unique<AppContext>(ProgramFolder(home.path()));
        context->setMessenger(messenger);
        context->device().setDriverLogFolder(home.path());
        options.linkPath = home.filePath(QStringLiteral("port")).toStdString();
        options.liveHistory = false;
        sim = std::make_unique<kestra::sim::Simulator>(options);
        std::string error;
        QVERIFY2(sim->start(&error), error.c_str());

        ProgramConfig& c = context->config();
        c.autoDetect = false;
        c.port = QString::fromStdString(sim->slavePath());
        c.localMode = true;
        c.timeSynchronize = false;
        c.archivingInterval = 0;
        doc = std::make_unique<CKESTRADoc>(*context);
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
        context.reset();
        sim.reset();
    }

    QTemporaryDir home;
    std::unique_ptr<kestra::sim::Simulator> sim;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<CKESTRADoc> doc;
};
