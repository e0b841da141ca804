#include "ui/frmMain.h"

#include "data/DbError.h"
#include "data/Session.h"
#include "data/fmCommonDM.h"
#include "platform/LongWait.h"
#include "platform/RegionalForms.h"
#include "ui/AmountEdit.h"
#include "ui/AppIcon.h"
#include "ui/DatePickerStyle.h"
#include "ui/MessageBoxes.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>

namespace {

// "MS Sans Serif" and "Arial" where the workstation has them, else close free fonts.
QFont windowFont() {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setPixelSize(11);
    return f;
}

QFont boldWindowFont() {
    QFont f = windowFont();
    f.setBold(true);
    return f;
}

void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    w->setPalette(p);
}

// A label fits its width to its text; the designed width is the least it takes.
void fitWidthToText(QLabel* label) {
    if (!label->text().isEmpty())
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

template <class W, class... Args>
W* place(QWidget* parent, const char* name, QRect geometry, Args&&... args) {
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

QLabel* boldLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* l = place<QLabel>(parent, name, geometry, text);
    l->setFont(boldWindowFont());
    fitWidthToText(l);
    return l;
}

DatePicker* datePicker(QWidget* parent, const char* name, QRect geometry) {
    auto* d = place<DatePicker>(parent, name, geometry);
    d->setCalendarPopup(true);
    d->setDisplayFormat(QLatin1String(regional::ShortDateFormat));
    d->setDate(QDate(2006, 12, 31));
    return d;
}

QComboBox* comboBox(QWidget* parent, const char* name, QRect geometry, const QStringList& items) {
    auto* c = place<QComboBox>(parent, name, geometry);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    return c;
}

} // namespace

DatePicker::DatePicker(QWidget* parent) : QDateEdit(parent) {
    setStyle(DatePickerStyle::instance());
    lineEdit()->installEventFilter(this);
}

bool DatePicker::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::MouseButtonPress)
        emit clicked();
    return QDateEdit::eventFilter(watched, event);
}

void DatePicker::mousePressEvent(QMouseEvent* event) {
    emit clicked();
    QDateEdit::mousePressEvent(event);
}

TfmMain::TfmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(msgbox::Caption);
    setWindowIcon(appIcon());
    setFont(windowFont());
    // The button-face colour as the window's own background: the children then
    // draw their texts in the window-text colour (a window whose background role
    // is Button makes them use the button-text colour instead).
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    setPalette(p);
    // Client area of the fixed 440 x 270 window with a classic frame.
    setFixedSize(432, 243);
    move(69, 215);
    createControls();
    FormCreate();
    connectHandlers();
    bbExecute->setFocus();
    LongWait::setQuestion(&msgbox::askKeepWaiting);
}

TfmMain::~TfmMain() {
    LongWait::setQuestion(nullptr);
}

auto TfmMain::holdWindow() {
    ++busy_;
    return qScopeGuard([this] {
        if (--busy_ == 0 && closeAfterRun_)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
}

void TfmMain::setDataModule(TdmCommon* dm) {
    dm_ = dm;
    setRunLimits({});
}

void TfmMain::setRunLimits(const RunLimits& limits) {
    RunObserver& observer = *this;
    generation_ = std::make_unique<GenerationRun>(*dm_, observer, limits);
}

void TfmMain::createControls() {
    Label4 = boldLabel(this, "Label4", "Населенный пункт", {0, 0, 112, 13});
    cbSettlement = comboBox(this, "cbSettlement", {1, 12, 233, 21}, {});
    Button1 = place<QPushButton>(this, "Button1", {238, 12, 41, 21}, QStringLiteral("Все"));
    Button1->setFont(boldWindowFont());
    Label6 = boldLabel(this, "Label6", "Отметь АТС которые не войдут в список", {2, 35, 246, 13});
    setTextColor(Label6, QColor(128, 0, 0));
    Label3 = boldLabel(this, "Label3", "АТС", {3, 50, 25, 13});
    CodAts = boldLabel(this, "CodAts", "", {0, 65, 5, 13});
    Label10 = boldLabel(this, "Label10", "Формирование списка", {136, 77, 138, 13});
    ToTime = place<QRadioButton>(this, "ToTime", {1, 90, 43, 17}, QStringLiteral("До"));
    DateTimePickerTo = datePicker(this, "DateTimePickerTo", {55, 89, 77, 21});
    PrBar = place<QProgressBar>(this, "PrBar", {134, 93, 143, 14});
    PrBar->setTextVisible(false);
    PrBar->setRange(0, 100);
    PrBar->setValue(0);
    PrBar->hide();
    Label1 = place<QLabel>(this, "Label1", {136, 100, 113, 36}, QStringLiteral("Ждем-с"));
    QFont arial;
    arial.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    arial.setPixelSize(31);
    arial.setBold(true);
    Label1->setFont(arial);
    setTextColor(Label1, QColor(255, 0, 0));
    fitWidthToText(Label1);
    Label1->hide();
    After = place<QRadioButton>(this, "After", {1, 113, 56, 17}, QStringLiteral("После"));
    DateTimePickerAfter = datePicker(this, "DateTimePickerAfter", {55, 111, 77, 21});
    Between = place<QRadioButton>(this, "Between", {1, 136, 55, 17}, QStringLiteral("Между"));
    Label7 = boldLabel(this, "Label7", "C", {57, 138, 9, 13});
    setTextColor(Label7, QColor(0, 0, 255));
    DateTimePickerBetween1 = datePicker(this, "DateTimePickerBetween1", {69, 134, 78, 21});
    Label5 = boldLabel(this, "Label5", "По", {150, 138, 17, 13});
    setTextColor(Label5, QColor(0, 0, 255));
    DateTimePickerBetween2 = datePicker(this, "DateTimePickerBetween2", {170, 134, 77, 21});
    Label8 = boldLabel(this, "Label8", "Вид файла:", {2, 156, 68, 13});
    Label9 = boldLabel(this, "Label9", "Кто:", {121, 160, 26, 13});
    cbTypeUser = comboBox(this, "cbTypeUser", {150, 157, 96, 21}, {"Квартирники", "Организации"});
    cbTypeUser->setCurrentIndex(0);
    cbTypeCall = comboBox(this, "cbTypeCall", {1, 169, 93, 21}, {"Тулмин", "Общий", "Анализ"});
    cbTypeCall->setCurrentIndex(-1);
    cbTypeCall->setEditText(QStringLiteral("Анализ"));
    Label2 = boldLabel(this, "Label2", "Минимальная сумма долга", {3, 191, 163, 13});
    ceSumma = place<AmountEdit>(this, "ceSumma", {174, 183, 65, 21});
    bbExecute =
        place<QPushButton>(this, "bbExecute", {6, 206, 233, 22}, QStringLiteral("Формировать"));

    const QList<QWidget*> tabOrder{bbExecute,
                                   ceSumma,
                                   cbTypeUser,
                                   cbSettlement,
                                   cbTypeCall,
                                   ToTime,
                                   After,
                                   Between,
                                   DateTimePickerTo,
                                   DateTimePickerAfter,
                                   DateTimePickerBetween1,
                                   DateTimePickerBetween2,
                                   Button1,
                                   PrBar};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

// Each handler reports its own errors: none may pass through Qt's signal code.
void TfmMain::connectHandlers() {
    const auto handler = [this](void (TfmMain::*h)()) {
        return [this, h] {
            const auto hold = holdWindow();
            msgbox::reportErrors([this, h] { (this->*h)(); });
        };
    };
    connect(cbTypeCall, &QComboBox::activated, this, handler(&TfmMain::cbTypeCallChange));
    connect(cbSettlement, &QComboBox::activated, this, handler(&TfmMain::cbSettlementSelect));
    connect(Button1, &QPushButton::clicked, this, handler(&TfmMain::Button1Click));
    connect(bbExecute, &QPushButton::clicked, this, handler(&TfmMain::bbExecuteClick));
    const std::pair<DatePicker*, void (TfmMain::*)()> pickers[] = {
        {DateTimePickerTo, &TfmMain::DateTimePickerToClick},
        {DateTimePickerAfter, &TfmMain::DateTimePickerAfterClick},
        {DateTimePickerBetween1, &TfmMain::DateTimePickerBetween1Click},
        {DateTimePickerBetween2, &TfmMain::DateTimePickerBetween2Click}};
    for (const auto& [picker, h] : pickers) {
        connect(picker, &DatePicker::clicked, this, handler(h));
        connect(picker, &QDateEdit::dateChanged, this, handler(h));
    }
}

void TfmMain::FormCreate() {
    DateTimePickerTo->setDate(QDate::currentDate());
    DateTimePickerBetween2->setDate(QDate::currentDate());
}

void TfmMain::showMainWindow() {
    if (shownOnce_) {
        show();
        return;
    }
    shownOnce_ = true;
    msgbox::reportErrors([this] { FormShow(); });
    if (!closedForGood_)
        show();
}

void TfmMain::FormShow() {
    const bool goOn = msgbox::askOkCancel(QStringLiteral(
        "Выбор типа файла \"Анализ\" ведёт к обновлению данных таблиц. Продолжить?"));
    if (!goOn) {
        close();
        return;
    }
    const auto hold = holdWindow();
    cbTypeCall->setCurrentIndex(Analysis);
    LoadSettlements();
    repaint();
}

// The close is carried out when the close-query handler gets through; when it
// fails (the link could not be dropped), its error is reported and the window
// stays. A second request then closes the window all the same, without touching
// the released queries again: the next sign-in under that name drops the link.
//
// While a handler waits for the server or the office, the window paints and
// takes close and logout requests; the user's other input waits. Such a
// request is held until the handler has ended, and carried out then: nothing
// is released under a running report. When the server is what the handler
// waits for, the user may stop waiting at once.
void TfmMain::closeEvent(QCloseEvent* event) {
    if (closedForGood_)
        return;
    if (closing_) { // taken once: the close under way decides
        event->ignore();
        askAboutTheWait();
        return;
    }
    if (busy_ > 0) {
        closeAfterRun_ = true;
        event->ignore();
        askAboutTheWait();
        return;
    }
    closing_ = true;
    bool closes = true;
    if (!closeRefused_) {
        closes = msgbox::reportErrors([this] { FormCloseQuery(); });
    } else {
        try {
            dropUserLink();
        } catch (const std::exception&) {
        }
    }
    closing_ = false;
    if (!closes) {
        closeRefused_ = true;
        event->ignore();
        return;
    }
    event->accept();
    FormClose();
    closedForGood_ = true;
    emit closed();
}

// The question a long wait brings up, asked now; stopping ends the wait, and
// the handler then ends.
void TfmMain::askAboutTheWait() {
    const LongWait* wait = LongWait::underWay();
    if (!wait || !wait->stoppableEarly() ||
        LongWait::keepWaiting(wait->awaited(), wait->secondsWaited()))
        return;
    if (LongWait* still = LongWait::underWay())
        still->stop();
}

// The link is dropped before the three queries are released: a close that
// fails there leaves a window whose reports still work.
void TfmMain::FormCloseQuery() {
    dropUserLink();
    dm_->sqListPhone.release();
    dm_->sqTownId.release();
    if (!dm_->sqCreateDropChannel.released()) {
        if (dm_->sqCreateDropChannel->isOpen())
            dm_->sqCreateDropChannel->close();
        dm_->sqCreateDropChannel.release();
    }
}

// A link that is already gone (dropped by another sign-in under the same name)
// counts as dropped.
void TfmMain::dropUserLink() {
    const QString login = session().OperatorLogin;
    try {
        dm_->SQLConnectionKvarn.executeDirect(QStringLiteral("drop database link ") + login);
    } catch (const DbError&) {
        bool gone = false;
        try {
            gone = !dm_->hasDatabaseLink(login);
        } catch (const std::exception&) {
        }
        if (!gone)
            throw;
    }
}

void TfmMain::FormClose() {
    // Releasing the connection does not ask the spreadsheet application to quit.
    cbListExcel.reset();
}

void TfmMain::cbTypeCallChange() {
    const int kind = cbTypeCall->currentIndex();
    if (kind == General || kind == Analysis)
        msgbox::inform(QStringLiteral("Предупреждение - данные таблиц будут обновлены..."));
}

void TfmMain::Button1Click() {
    for (int i = 1; i <= ExchangeCount; ++i)
        if (ExchangeBoxes[i])
            ExchangeBoxes[i]->setChecked(!ExchangeBoxes[i]->isChecked());
}

void TfmMain::DateTimePickerToClick() {
    ToTime->setChecked(true);
}
void TfmMain::DateTimePickerAfterClick() {
    After->setChecked(true);
}
void TfmMain::DateTimePickerBetween1Click() {
    Between->setChecked(true);
}
void TfmMain::DateTimePickerBetween2Click() {
    Between->setChecked(true);
}

void TfmMain::bbExecuteClick() {
    takeTypedSettlement();
    // The outputs are named after the settlement and hold its debtors: a text
    // typed into the box that is not the settlement shown would mix the two.
    if (cbSettlement->currentText() != shownTown_.name) {
        msgbox::inform(QStringLiteral("Выберите населенный пункт из списка"));
        return;
    }
    // Whatever way the run ends, the window is left usable.
    const auto hold = holdWindow();
    const auto restore = qScopeGuard([this] {
        bbExecute->setEnabled(true);
        Label1->hide();
        PrBar->hide();
    });
    lastRun_ = generation_->run(gatherRunParameters(), QDir::currentPath(), cbListExcel.get());
    if (!lastRun_.notice.isEmpty())
        msgbox::inform(lastRun_.notice);
}

// A name typed into the settlement box exactly as an item of its list counts
// as picking that item.
void TfmMain::takeTypedSettlement() {
    const QString typed = cbSettlement->currentText();
    if (typed == shownTown_.name)
        return;
    const int item = cbSettlement->findText(typed, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item < 0)
        return;
    cbSettlement->setCurrentIndex(item);
    cbSettlementSelect();
}

RunParameters TfmMain::gatherRunParameters() {
    ceSumma->normalize(); // as when the field loses the focus to the button
    RunParameters p;
    p.clientKind = ClientKind(cbTypeUser->currentIndex());
    p.clientKindText = cbTypeUser->currentText();
    p.minDebt = ceSumma->amount();
    p.settlement = shownTown_;
    int sameName = 0;
    for (int i = 0; i < cbSettlement->count(); ++i)
        sameName += cbSettlement->itemText(i) == shownTown_.name ? 1 : 0;
    p.settlement.nameShared = sameName > 1;
    p.exchangeCount = ExchangeCount;
    for (ExchangeCursor = 1; ExchangeCursor <= ExchangeCount; ++ExchangeCursor) {
        QCheckBox* box = ExchangeBoxes[ExchangeCursor];
        if (box && box->isChecked()) {
            const QString caption = ExchangeLabels[ExchangeCursor]->text();
            p.excluded << ExcludedExchange{CodAts->text() + caption, caption};
        }
    }
    // Tested in this order: were several on, the last would win.
    if (ToTime->isChecked())
        p.dateFilter = {DateFilter::Before, DateTimePickerTo->date(), {}};
    if (After->isChecked())
        p.dateFilter = {DateFilter::After, DateTimePickerAfter->date(), {}};
    if (Between->isChecked())
        p.dateFilter = {DateFilter::Between, DateTimePickerBetween1->date(),
                        DateTimePickerBetween2->date()};
    p.listKind = ListKind(cbTypeCall->currentIndex());
    p.listKindText = cbTypeCall->currentText();
    return p;
}

// The run holds the user-interface thread: what it shows is painted at once.
void TfmMain::busy() {
    Label1->show();
    repaint();
    bbExecute->setEnabled(false);
}

void TfmMain::progressStarted(int maximum) {
    PrBar->show();
    PrBar->setMaximum(maximum);
    PrBar->repaint();
}

// Painted only when the filled part grows by a pixel.
void TfmMain::progress(int rowsDone) {
    const auto pixels = [this](int value) {
        return PrBar->maximum() > 0 ? qint64(value) * PrBar->width() / PrBar->maximum() : 0;
    };
    const bool grows = pixels(rowsDone) != pixels(PrBar->value());
    PrBar->setValue(rowsDone);
    if (grows)
        PrBar->repaint();
}

void TfmMain::progressFinished() {
    PrBar->hide();
}
