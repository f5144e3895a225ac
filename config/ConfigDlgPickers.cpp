// The settings dialog's pickers and the handlers beside them: the plug-in
// folder and rows, the background picture, the caption font and colours,
// the caption text file and the sample's margin.
#include "config/ConfigDlg.h"

#include <commdlg.h>

#include <algorithm>

#include "config/ConfigDlgParts.h"
#include "config/ConfigDlgRes.h"
#include "imaging/PictureLoader.h"
#include "search/Dirsearch.h"
#include "toolkit/Canvas.h"

namespace orv {

void TConfigDlg::UseSusiePluginCheckBoxClick() {
  EnableWindow(Item(IDC_SELECTPLUGINFOLDERBUTTON), Checked(IDC_USESUSIEPLUGINCHECKBOX));
  UpdateExtendNameList();
}

void TConfigDlg::UpdateExtendNameList() {
  tk::TStringList plugins;
  // No folder chosen yet means no plug-ins, not the files of the current
  // drive's root.
  if (!settings_->PluginFolder.empty()) {
    tk::TStringList spi;
    spi.Add(".spi");
    FindFiles(plugins, settings_->PluginFolder, spi);
  }
  ConfigValues v;
  v.UseSusiePlugin = Checked(IDC_USESUSIEPLUGINCHECKBOX);
  UpdateTypeRows(v, plugins);
  while (ExtendNameEasyListView.Count() > kBuiltInTypeRows)
    ExtendNameEasyListView.DeleteItem(ExtendNameEasyListView.Count() - 1);
  for (size_t i = kBuiltInTypeRows; i < v.TypeRows.size(); ++i) {
    ExtendNameEasyListView.AddItem(v.TypeRows[i]);
    ExtendNameEasyListView.SetChecked(static_cast<int>(i), false);
  }
}

void TConfigDlg::SelectPluginFolderButtonClick() {
  SelectFolderDialog2.InitialDir = settings_->PluginFolder;
  if (!SelectFolderDialog2.Execute(Handle())) return;
  settings_->PluginFolder = SelectFolderDialog2.DirectoryName;
  UpdateExtendNameList();
}

void TConfigDlg::UseBGImageCheckBoxClick() { ApplyEnableRules(); }

void TConfigDlg::BGImageButtonClick() {
  if (!CoolOpenDialog2.Execute(Handle())) return;
  LoadSampleBackground(CoolOpenDialog2.FileName);
}

void TConfigDlg::LoadSampleBackground(const std::string& fileName) {
  // A new choice replaces one still being decoded, with its decoder.
  KillTimer(Handle(), kSampleDecoderTimer);
  DecodeSetup setup;
  setup.extensions = tk::LoadResString(kExtensionsResource, ".bmp,.jpg,.jpeg,.png");
  sample_decoder_ = std::make_unique<TDecoderClient>(DecoderModulePath(), setup);
  // The sample stands for the screen: no more of the picture is needed.
  const int w = std::max(GetSystemMetrics(SM_CXSCREEN), 1);
  const int h = std::max(GetSystemMetrics(SM_CYSCREEN), 1);
  if (!sample_decoder_->Ask(DecodeMessage::kDecode, fileName, w, h, 0, 0)) {
    sample_decoder_.reset();
    sample_->BGImage.Picture().Clear();
    sample_->BGImage.Invalidate();
    return;
  }
  SetTimer(Handle(), kSampleDecoderTimer, 20, nullptr);
}

void TConfigDlg::TakeSampleBackground() {
  if (!sample_decoder_) {
    KillTimer(Handle(), kSampleDecoderTimer);
    return;
  }
  DecodeAnswer a;
  std::unique_ptr<DecodedDib> dib;
  const TDecoderClient::Result r = sample_decoder_->Check(a, dib);
  if (r == TDecoderClient::Result::kPending) return;
  KillTimer(Handle(), kSampleDecoderTimer);
  sample_decoder_.reset();
  AdoptDecoded(sample_->BGImage.Picture(),
               r == TDecoderClient::Result::kAnswered ? std::move(dib) : nullptr, a);
  sample_->BGImage.Invalidate();
}

void TConfigDlg::FontSelectButtonClick() {
  tk::TFont font = sample_->ScreenFontLabel.Font();
  LOGFONTA lf = {};
  lf.lfHeight = -MulDiv(font.Size, ScreenDpi(), 72);
  lf.lfWeight = (font.Style & tk::fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (font.Style & tk::fsItalic) ? 1 : 0;
  lf.lfUnderline = (font.Style & tk::fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = (font.Style & tk::fsStrikeOut) ? 1 : 0;
  lf.lfCharSet = font.CharSet;
  lstrcpynA(lf.lfFaceName, font.Name.c_str(), LF_FACESIZE);
  CHOOSEFONTA cf = {};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = Handle();
  cf.lpLogFont = &lf;
  // No effects: colour, underline and strike-out are not offered here.
  cf.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
  if (!ChooseFontA(&cf)) return;
  font.Name = lf.lfFaceName;
  font.CharSet = lf.lfCharSet;
  if (cf.iPointSize > 0) font.Size = (cf.iPointSize + 5) / 10;
  font.Style = static_cast<uint8_t>((font.Style & (tk::fsUnderline | tk::fsStrikeOut)) |
                                    (lf.lfWeight >= FW_BOLD ? tk::fsBold : 0) |
                                    (lf.lfItalic ? tk::fsItalic : 0));
  sample_->ScreenFontLabel.SetFont(font);
  sample_->ScreenFontLabel.SetCaption(font.Name);
}

bool TConfigDlg::PickColor(tk::TColor& color) {
  CHOOSECOLORA cc = {};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = Handle();
  cc.rgbResult = tk::ColorToRGB(color);
  cc.lpCustColors = custom_colors_;
  cc.Flags = CC_RGBINIT | CC_FULLOPEN | CC_PREVENTFULLOPEN;
  if (!ChooseColorA(&cc)) return false;
  color = static_cast<tk::TColor>(cc.rgbResult);
  return true;
}

void TConfigDlg::FontColorButtonClick() {
  tk::TFont font = sample_->ScreenFontLabel.Font();
  if (!PickColor(font.Color)) return;
  sample_->ScreenFontLabel.SetFont(font);
}

void TConfigDlg::BGColorButtonClick() {
  tk::TColor c = sample_->Color();
  if (!PickColor(c)) return;
  sample_->SetColor(c);
}

void TConfigDlg::ShowTextKindEasyComboBoxChange() { ApplyEnableRules(); }

void TConfigDlg::SelectTextButtonClick() {
  CoolOpenDialog1.FileName = settings_->SelectTextFileName;
  if (CoolOpenDialog1.Execute(Handle())) {
    settings_->SelectTextFileName = CoolOpenDialog1.FileName;
    // A new text starts again at its first row.
    settings_->PreviousRowNumber = 0;
  }
  SetWindowTextA(Item(IDC_SELECTTEXTFILENAMESHADOWLABEL), settings_->SelectTextFileName.c_str());
}

void TConfigDlg::WindowBorderUpDownClick() {
  SetSampleBorder(UpDownPosition(Item(IDC_WINDOWBORDERUPDOWN)));
}

void TConfigDlg::WindowBorderNumberFilterEditExit() {
  SetSampleBorder(UpDownPosition(Item(IDC_WINDOWBORDERUPDOWN)));
}

void TConfigDlg::SetSampleBorder(int margin) {
  if (sample_) sample_->SetSampleBorder(margin);
}

}  // namespace orv
