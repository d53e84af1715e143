// Renders every dialog to a PNG file, to look at what a person sees:
//   dialogs_snapshots <folder>
// The instrument dialogs run against the simulator; the online window gets an hour of
// synthetic samples besides its own readings so that the chart has something to show.
#include "simdocument.h"
#include "ui/dialogs/addserver.h"
#include "ui/dialogs/deviceconfig.h"
#include "ui/dialogs/dosechart.h"
#include "ui/dialogs/enternewpassword.h"
#include "ui/dialogs/enterpassword.h"
#include "ui/dialogs/onlinemode.h"
#include "ui/dialogs/programsettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

bool save(QWidget& widget, const QString& folder, const QString& name)
{
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialogs_snapshots <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    SimDocument env;
    env.start();
    if (!env.sim || !env.doc)
        return 1;
    env.sim->setDoseRate(1.8e-6);
    bool ok = true;

    {
        ProgramConfig config = env.context->config();
        config.servers = QStringList { QStringLiteral("station-a:3133"), QStringLiteral("10.0.0.7:3133") };
        config.remoteServer = QStringLiteral("station-a:3133");
        CProgramSettings dialog(config, env.context->messenger(), env.doc.get());
        ok &= save(dialog, folder, QStringLiteral("program-settings"));
        dialog.remoteBox()->click();
        ok &= save(dialog, folder, QStringLiteral("program-settings-remote"));
    }
    {
        CAddServer dialog;
        ok &= save(dialog, folder, QStringLiteral("add-server"));
    }
    {
        CEnterPassword dialog;
        ok &= save(dialog, folder, QStringLiteral("enter-password"));
        ProgramConfig config;
        CEnterNewPassword newDialog(config, env.context->messenger());
        ok &= save(newDialog, folder, QStringLiteral("new-password"));
    }
    CUserParams read;
    {
        DeviceConfig dialog(*env.doc, env.context->config());
        if (!dialog.readFromInstrument())
            return 1;
        read = dialog.parametersAsRead();
        ok &= save(dialog, folder, QStringLiteral("instrument-settings"));
        dialog.roentgenButton()->click();
        dialog.intervalEdit()->setText(QStringLiteral("70000"));
        dialog.beta1Edit()->setText(QStringLiteral("abc"));
        dialog.validate();
        ok &= save(dialog, folder, QStringLiteral("instrument-settings-wrong"));
    }
    {
        COnlineMode window(*env.doc);
        window.setThresholds(read);
        window.setRefreshInterval(60000);
        window.show();
        while (!window.timer()->isActive())
            QApplication::processEvents();
        // An hour of readings that climb through the first threshold.
        for (int i = 0; i < 1800; ++i) {
            const double rate = 18000 + 15000 * std::sin(i / 200.0) + (i % 7) * 300 + (i > 1500 ? 20000 : 0);
            window.chart()->addSample(DoseChart::Quantity::DoseRate, i * 2000, rate);
            if (i > 1200)
                window.chart()->addSample(DoseChart::Quantity::BetaFlux, i * 2000, 4 + (i % 11) * 0.7);
        }
        ok &= save(window, folder, QStringLiteral("online-mode"));
        window.reject();
    }
    env.stop();
    return ok ? 0 : 1;
}
