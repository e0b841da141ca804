#pragma once
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "lists/RunObserver.h"
#include "lists/RunParameters.h"
#include "platform/Spreadsheet.h"
#include "ui/ExchangeCode.h"

#include <QDateEdit>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class AmountEdit;
class TdmCommon;

// A date picker that also tells when it is clicked.
class DatePicker : public QDateEdit {
    Q_OBJECT
public:
    explicit DatePicker(QWidget* parent);
signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

// The main window fmMain. Its run button hands what the user chose to the
// generation run (lists/) and shows the run's busy state and progress.
class TfmMain : public QWidget, private RunObserver {
    Q_OBJECT
public:
    static constexpr int MaxExchanges = 30;

    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    void setDataModule(TdmCommon* dm);
    // How much a report takes, and in what steps (a fresh run; the last run's
    // values are gone).
    void setRunLimits(const RunLimits& limits);
    TdmCommon* dataModule() const { return dm_; }

    // Shows the window; the first time, its show handler runs first and may
    // close it instead. The window is shown even when the handler fails.
    void showMainWindow();
    // A close was asked for while a handler or a run held the window: it is
    // carried out when that ends.
    bool closeWaitsForRun() const { return busy_ > 0 && closeAfterRun_; }

    // Controls.
    QLabel* Label1; // "Ждем-с"
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* CodAts;
    QComboBox* cbSettlement;
    QPushButton* Button1;
    QRadioButton* ToTime;
    QRadioButton* After;
    QRadioButton* Between;
    DatePicker* DateTimePickerTo;
    DatePicker* DateTimePickerAfter;
    DatePicker* DateTimePickerBetween1;
    DatePicker* DateTimePickerBetween2;
    QProgressBar* PrBar;
    QComboBox* cbTypeUser;
    QComboBox* cbTypeCall;
    AmountEdit* ceSumma;
    QPushButton* bbExecute;

    // The connection to the spreadsheet application; released when the window closes.
    std::unique_ptr<Spreadsheet> cbListExcel;

    // Exchange row, slots 1 to 30 (slot 0 unused).
    std::array<QPointer<QCheckBox>, MaxExchanges + 1> ExchangeBoxes{};
    std::array<QPointer<QLabel>, MaxExchanges + 1> ExchangeLabels{};
    int ExchangeCount = 0;
    int ExchangeCursor = 1;
    int NextBoxLeft = 40;
    int NextLabelLeft = 39;

    // How the last run ended and what it left.
    const RunOutcome& lastRun() const { return lastRun_; }
    // The settlement whose exchange row is shown.
    const SettlementTown& shownTown() const { return shownTown_; }

    // Handlers.
    void FormCreate();
    void FormShow();
    void FormCloseQuery();
    void FormClose();
    void cbTypeCallChange();
    void Button1Click();
    void DateTimePickerToClick();
    void DateTimePickerAfterClick();
    void DateTimePickerBetween1Click();
    void DateTimePickerBetween2Click();

    // Settlement and exchange selection.
    void LoadSettlements();
    void cbSettlementSelect();
    void AddExchangeBox();
    void AddExchangeLabel(exchange::Family family);
    // An item of the settlement list: its name (null shows as empty), its town.
    void addSettlement(const SettlementItem& settlement);
    SettlementItem settlementItem(int item) const;

    // Debtor list generation: what the window's controls say, handed to the run.
    void bbExecuteClick();
    RunParameters gatherRunParameters();
    void takeTypedSettlement();

signals:
    void closed(); // the window has closed: the program ends

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void connectHandlers();
    void clearExchangeRow();
    void buildExchangeRow(bool byOwnFamily);
    int countExchangeRows();
    void rememberShownTown(int item);
    void dropUserLink();
    // While the returned guard lives, a handler holds the window: a close
    // request waits for its end.
    [[nodiscard]] auto holdWindow();
    void askAboutTheWait();

    // How the run reaches the window.
    void busy() override;
    void progressStarted(int maximum) override;
    void progress(int rowsDone) override;
    void progressFinished() override;

    TdmCommon* dm_ = nullptr;
    std::unique_ptr<GenerationRun> generation_;
    RunOutcome lastRun_;
    SettlementTown shownTown_;
    bool shownOnce_ = false;
    bool closedForGood_ = false;
    bool closeRefused_ = false;  // a close request failed to drop the link
    int busy_ = 0;               // handlers under way: a run, a settlement's exchanges, ...
    bool closeAfterRun_ = false; // a close came meanwhile
    bool closing_ = false;       // the close's own work (the link's drop) is under way
};
