// Settlement list and the row of exchange check boxes of the main window.
#include "data/fmCommonDM.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

namespace {
constexpr int BoxTop = 48;
constexpr int LabelTop = 65;
constexpr int Step = 18;
} // namespace

namespace {
constexpr int TownIdRole = Qt::UserRole;
constexpr int NameRole = Qt::UserRole + 1;
} // namespace

// Each row of the settlement query is an item of its own: its name, its town.
void TfmMain::LoadSettlements() {
    SqlQuery& settlements = *dm_->sqSettlement;
    settlements.open();
    for (; !settlements.eof(); settlements.next())
        addSettlement({settlements.value(QStringLiteral("NAME")),
                       settlements.value(QStringLiteral("TOWN_ID"))});
    settlements.close();
    dm_->sqSettlement.release();
    cbSettlement->setCurrentIndex(0);

    SqlQuery& phoneInd = *dm_->sqPhoneInd;
    dm_->showExchangesOf(settlementItem(0), false);
    phoneInd.first();
    NextBoxLeft = 40;
    NextLabelLeft = 39;
    ExchangeCursor = 1;
    ExchangeCount = countExchangeRows();
    rememberShownTown(0);
    CodAts->setText(phoneInd.asString(QStringLiteral("atskod")).left(5));
    CodAts->adjustSize(); // a label fits its size to its caption
    buildExchangeRow(false);
}

void TfmMain::cbSettlementSelect() {
    const int item = cbSettlement->currentIndex();
    dm_->showExchangesOf(settlementItem(item), true);
    SqlQuery& phoneInd = *dm_->sqPhoneInd;
    NextBoxLeft = 34;
    NextLabelLeft = 34;
    clearExchangeRow();
    ExchangeCount = 0;
    ExchangeCursor = 1;
    ExchangeCount = countExchangeRows();
    rememberShownTown(item);
    const QString firstCode = phoneInd.asString(QStringLiteral("atskod"));
    const exchange::Family family = exchange::familyOf(firstCode);
    if (family == exchange::Family::Other) {
        NextBoxLeft = 40;
        NextLabelLeft = 39;
    }
    CodAts->setText(exchange::prefix(firstCode, family));
    CodAts->adjustSize();
    buildExchangeRow(true);
}

void TfmMain::addSettlement(const SettlementItem& settlement) {
    cbSettlement->addItem(settlement.name.toString());
    const int item = cbSettlement->count() - 1;
    cbSettlement->setItemData(item, settlement.townId, TownIdRole);
    cbSettlement->setItemData(item, settlement.name, NameRole);
}

SettlementItem TfmMain::settlementItem(int item) const {
    if (item < 0 || item >= cbSettlement->count())
        return {};
    return {cbSettlement->itemData(item, NameRole), cbSettlement->itemData(item, TownIdRole)};
}

// The settlement whose row is shown, with the territory of its first exchange
// row (the exchange query stands on it): what a run takes.
void TfmMain::rememberShownTown(int item) {
    const SettlementItem s = settlementItem(item);
    shownTown_ = {cbSettlement->itemText(item), s.townId.toString(),
                  dm_->sqPhoneInd->value(QStringLiteral("id_territory")), false};
}

void TfmMain::clearExchangeRow() {
    for (int i = 1; i <= MaxExchanges; ++i) {
        if (ExchangeBoxes[i]) {
            delete ExchangeBoxes[i];
            ExchangeBoxes[i] = nullptr;
            delete ExchangeLabels[i];
            ExchangeLabels[i] = nullptr;
        }
    }
}

// Counts the rows of the exchange query and goes back to its first row. Only
// the first 30 exchanges of a settlement have a place in the row.
int TfmMain::countExchangeRows() {
    SqlQuery& phoneInd = *dm_->sqPhoneInd;
    int rows = 0;
    for (; !phoneInd.eof(); phoneInd.next())
        ++rows;
    phoneInd.first();
    return std::min(rows, int(MaxExchanges));
}

// The initial load cuts every code as one of the other family; a choice cuts
// each by its own family.
void TfmMain::buildExchangeRow(bool byOwnFamily) {
    SqlQuery& phoneInd = *dm_->sqPhoneInd;
    while (ExchangeCursor <= ExchangeCount) {
        const QString code = phoneInd.asString(QStringLiteral("atskod"));
        const exchange::Family family =
            byOwnFamily ? exchange::familyOf(code) : exchange::Family::Other;
        AddExchangeBox();
        AddExchangeLabel(family);
        QLabel* label = ExchangeLabels[ExchangeCursor];
        label->setText(exchange::tail(code, family));
        QFont bold = font();
        bold.setBold(true);
        label->setFont(bold);
        label->adjustSize();
        phoneInd.next();
        ++ExchangeCursor;
    }
}

void TfmMain::AddExchangeBox() {
    auto* box = new QCheckBox(this);
    ExchangeBoxes[ExchangeCursor] = box;
    box->setChecked(true);
    box->setGeometry(NextBoxLeft, BoxTop, 14, 17);
    NextBoxLeft += Step;
    if (ExchangeCursor > 1 && ExchangeBoxes[ExchangeCursor - 1])
        setTabOrder(ExchangeBoxes[ExchangeCursor - 1], box);
    else
        setTabOrder(PrBar, box);
    box->show();
}

void TfmMain::AddExchangeLabel(exchange::Family family) {
    const QString code = dm_->sqPhoneInd->asString(QStringLiteral("atskod"));
    const QString name = QStringLiteral("Ats") + exchange::tail(code, family);
    QCheckBox* box = ExchangeBoxes[ExchangeCursor];
    box->setObjectName(name);
    box->setText(name);
    auto* label = new QLabel(this);
    ExchangeLabels[ExchangeCursor] = label;
    label->setGeometry(NextLabelLeft, LabelTop, 14, 17);
    NextLabelLeft += Step;
    label->show();
}
