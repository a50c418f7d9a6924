#include "UEditSiteFM.h"

#include "Exceptions.h"
#include "UCheckHistory.h"
#include "UCheckSettings.h"
#include "USiteStatus.h"
#include "UUtils.h"

namespace {
constexpr const char* kUnit = "UEditSiteFM";
}

TfmEditSite::TfmEditSite(TApplication& app, TForm* owner) : TForm(app, owner)
{
    SetCaption(L"Edit site");
    SetBorderStyle(TBorderStyle::Dialog);
    SetBorderIcons(biSystemMenu);
    SetClientSize(416, 244);
    SetPosition(TPosition::OwnerCenter);

    cbActive.SetBounds(12, 12, 300, 19);
    LabelURL.SetBounds(12, 40, 296, 15);
    editURL.SetBounds(12, 56, 296, 21);
    bbOpenURL.SetBounds(316, 55, 88, 23);
    LabelMinutes.SetBounds(12, 86, 296, 15);
    editMinutes.SetBounds(12, 102, 90, 21);
    LabelCode.SetBounds(12, 132, 296, 15);
    editCode.SetBounds(12, 148, 296, 21);
    bbCheckCode.SetBounds(316, 147, 88, 23);
    LabelMessage.SetBounds(12, 178, 322, 15);
    LabelResponseTime.SetBounds(340, 178, 64, 15);
    bbOk.SetBounds(236, 209, 80, 25);
    bbCancel.SetBounds(324, 209, 80, 25);

    PrepareEditDialogParts(Parts(), [this] { bbOkClick(); });
    bbOpenURL.OnClick = [this] { bbOpenURLClick(); };
    bbCheckCode.OnClick = [this] { bbCheckCodeClick(); };
}

void TfmEditSite::SetItem(TListItem row)
{
    item_ = row;
    if (LoadEditDialogParts(Parts(), row) > 1)
        editCode.SetText(row.SubItem(1));
}

void TfmEditSite::SaveToItem()
{
    auto* settings = item_ ? dynamic_cast<TCheckSiteSettings*>(item_.Data()) : nullptr;
    Assert(settings != nullptr, "The edited row carries no site settings", kUnit, __LINE__);
    int minutes = editMinutes.Value();
    settings->Active = cbActive.Checked();
    settings->URL = editURL.Text();
    settings->CheckIntevalMinutes = minutes;
    settings->CodeToCheck = editCode.Text();

    item_.SetChecked(settings->Active);
    item_.SetCaption(settings->URL);
    item_.SetSubItems({std::to_wstring(minutes), settings->CodeToCheck});
}

void TfmEditSite::bbOkClick()
{
    SaveToItem();
    SetModalResult(mrOk);
}

void TfmEditSite::bbOpenURLClick()
{
    if (ShellOpen)
        ShellOpen(Handle(), editURL.Text());
}

// The page as the server gives it without credentials, searched as the scheduled check searches it.
void TfmEditSite::bbCheckCodeClick()
{
    TBlockingCheck busy;
    LabelResponseTime.SetCaption(L"");
    TStopwatch watch;
    std::optional<std::string> body = RetrieveURL(editURL.Text(), nullptr);
    LabelResponseTime.SetCaption(FormatMilliseconds(watch.Milliseconds()));
    if (!body)
        ShowCheckMessage(L"Failed to connect", kCheckFailedColor);
    else if (PageContainsCode(*body, editCode.Text()))
        ShowCheckMessage(L"Code found", kCheckSucceededColor);
    else
        ShowCheckMessage(L"Code not found", kCheckFailedColor);
}

void TfmEditSite::ShowCheckMessage(const std::wstring& text, COLORREF color)
{
    LabelMessage.SetCaption(text);
    LabelMessage.SetTextColor(color);
    LabelMessage.Show();
    ::UpdateWindow(LabelMessage.Handle());
}
