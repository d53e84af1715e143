#pragma once

#include "history/userparams.h"

#include <QDialog>
#include <QList>

#include <functional>

class CKESTRADoc;
class ProgramConfig;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "Instrument settings": the instrument's user parameters, read when the dialog opens, edited
// in the units of the instrument, written back as a whole; and the deletion of the instrument's
// history. Closing the dialog closes the driver, so that the next device operation opens the
// port again.
class DeviceConfig : public QDialog {
    Q_OBJECT
public:
    // The largest history interval the instrument holds (16 bits).
    static constexpr int MaxHistoryInterval = 65535;

    DeviceConfig(CKESTRADoc& doc, ProgramConfig& config, QWidget* parent = nullptr);
    ~DeviceConfig() override;

    // Reads the parameters, as on opening; on failure tells the person and closes the dialog.
    // While the document is busy (a download) the read waits for it and false is returned.
    bool readFromInstrument();
    // Runs the opening read first; Rejected without showing the dialog when it fails.
    int exec() override;

    // Validates and writes; true when the instrument took the values. While the document is
    // busy the write waits for it (the buttons off meanwhile) and false is returned.
    bool write();
    void deleteHistory();
    // Labels of the values that failed the last validation; empty when all are valid.
    bool validate();
    QList<QLabel*> wrongLabels() const { return m_wrong; }

    bool loaded() const { return m_loaded; }
    const CUserParams& parametersAsRead() const { return m_read; }
    const CUserParams& parametersToWrite() const { return m_toWrite; }

    // DER threshold as shown: roentgen "%.3f" mR/h, sievert "%.5f" mSv/h of instrument units.
    static QString derText(qint32 instrumentUnits, bool roentgen);
    // The search threshold as shown: "%.1f" cps.
    static QString searchText(double threshold);
    // The instrument units of a DER value typed in mR/h or mSv/h.
    static qint32 derUnits(double value, bool roentgen);

    // The controls, for the window's tests.
    QCheckBox* timeSyncBox() const { return m_timeSync; }
    QCheckBox* soundBox() const { return m_sound; }
    QCheckBox* beepBox() const { return m_beep; }
    QRadioButton* roentgenButton() const { return m_roentgen; }
    QRadioButton* sievertButton() const { return m_sievert; }
    QLineEdit* der1Edit() const { return m_der1; }
    QLineEdit* der2Edit() const { return m_der2; }
    QLineEdit* beta1Edit() const { return m_beta1; }
    QLineEdit* beta2Edit() const { return m_beta2; }
    QLineEdit* searchEdit() const { return m_search; }
    QLineEdit* intervalEdit() const { return m_interval; }
    QLabel* der1Label() const { return m_der1Label; }
    QLabel* der2Label() const { return m_der2Label; }
    QLabel* beta1Label() const { return m_beta1Label; }
    QLabel* beta2Label() const { return m_beta2Label; }
    QLabel* searchLabel() const { return m_searchLabel; }
    QLabel* intervalLabel() const { return m_intervalLabel; }
    QLabel* der1Units() const { return m_der1Units; }
    QPushButton* writeButton() const { return m_write; }
    QPushButton* readButton() const { return m_readButton; }
    QPushButton* deleteHistoryButton() const { return m_clearHistory; }

private:
    void buildControls();
    void display();
    void setUnitsTexts();
    void showUnits(bool roentgen);
    void paintWrongLabels();
    void onEdited();
    void setButtonsEnabled(bool enabled);
    void clearInstrumentHistory();
    // True when the document is busy: step runs once it is idle, while this dialog lives.
    bool waitForDocument(const std::function<void()>& step);

    CKESTRADoc& m_doc;
    ProgramConfig& m_config;
    CUserParams m_read;
    CUserParams m_toWrite;
    bool m_loaded = false;
    bool m_opened = false;
    QList<QLabel*> m_wrong;

    QCheckBox* m_timeSync = nullptr;
    QCheckBox* m_sound = nullptr;
    QCheckBox* m_beep = nullptr;
    QRadioButton* m_roentgen = nullptr;
    QRadioButton* m_sievert = nullptr;
    QLineEdit* m_der1 = nullptr;
    QLineEdit* m_der2 = nullptr;
    QLineEdit* m_beta1 = nullptr;
    QLineEdit* m_beta2 = nullptr;
    QLineEdit* m_search = nullptr;
    QLineEdit* m_interval = nullptr;
    QLabel* m_der1Label = nullptr;
    QLabel* m_der2Label = nullptr;
    QLabel* m_beta1Label = nullptr;
    QLabel* m_beta2Label = nullptr;
    QLabel* m_searchLabel = nullptr;
    QLabel* m_intervalLabel = nullptr;
    QLabel* m_der1Units = nullptr;
    QLabel* m_der2Units = nullptr;
    QPushButton* m_write = nullptr;
    QPushButton* m_readButton = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_clearHistory = nullptr;
    QLabel* m_waiting = nullptr;
};
