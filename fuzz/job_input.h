// A whole job in one byte string, as the filter fuzzer takes it and as the
// hostile-input tests replay what it found: two option bytes, then the raster
// stream.  The option bytes pick the job's options (argv[5]) among the
// choices of a small fixed PPD, so every input names a complete job.
//
//   kJobInputPpd   the PPD text the options refer to
//   SplitJobInput  option bytes -> option string; the rest is the raster
//
// Option bytes, least significant bits first:
//   byte 0: Dithering (2 bits), Origin (2), MirrorImage (1), NegativeImage (1),
//           PaperType (2; 3 = not given)
//   byte 1: PostAction (2), CutEveryLabels (2), Threshold (3; 5 to 7 = not
//           given), MediaMethod (1)
// A stream shorter than two bytes is all raster, with no options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

inline constexpr char kJobInputPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"FUZZ.PPD\"\n"
    "*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n*ModelName: \"Test\"\n"
    "*ShortNickName: \"Test\"\n*NickName: \"Test\"\n*PSVersion: \"(3010.000) 0\"\n"
    "*OpenUI *Dithering: PickOne\n*DefaultDithering: None\n*Dithering None: \"\"\n"
    "*Dithering Threshold: \"\"\n*Dithering OrderDithering: \"\"\n"
    "*Dithering ErrorDiffusion: \"\"\n*CloseUI: *Dithering\n"
    "*OpenUI *Threshold: PickOne\n*DefaultThreshold: 0\n*Threshold -40: \"\"\n"
    "*Threshold -20: \"\"\n*Threshold 0: \"\"\n*Threshold 20: \"\"\n*Threshold 40: \"\"\n"
    "*CloseUI: *Threshold\n"
    "*OpenUI *Origin: PickOne\n*DefaultOrigin: Rotation0\n*Origin Rotation0: \"\"\n"
    "*Origin Rotation90: \"\"\n*Origin Rotation180: \"\"\n*Origin Rotation270: \"\"\n"
    "*CloseUI: *Origin\n"
    "*OpenUI *MirrorImage: PickOne\n*DefaultMirrorImage: False\n*MirrorImage False: \"\"\n"
    "*MirrorImage True: \"\"\n*CloseUI: *MirrorImage\n"
    "*OpenUI *NegativeImage: PickOne\n*DefaultNegativeImage: False\n"
    "*NegativeImage False: \"\"\n*NegativeImage True: \"\"\n*CloseUI: *NegativeImage\n"
    "*OpenUI *MediaMethod: PickOne\n*DefaultMediaMethod: Direct\n*MediaMethod Direct: \"\"\n"
    "*MediaMethod Transfer: \"\"\n*CloseUI: *MediaMethod\n"
    "*OpenUI *PaperType: PickOne\n*DefaultPaperType: LabelGaps\n*PaperType LabelGaps: \"\"\n"
    "*PaperType LabelMark: \"\"\n*PaperType Continue: \"\"\n*CloseUI: *PaperType\n"
    "*OpenUI *GapsHeight: PickOne\n*DefaultGapsHeight: 3\n*GapsHeight 3: \"\"\n"
    "*CloseUI: *GapsHeight\n"
    "*OpenUI *FeedPaper: PickOne\n*DefaultFeedPaper: -1.5\n*FeedPaper -1.5: \"\"\n"
    "*CloseUI: *FeedPaper\n"
    "*OpenUI *PostAction: PickOne\n*DefaultPostAction: TearOff\n*PostAction TearOff: \"\"\n"
    "*PostAction PeelOff: \"\"\n*PostAction CutEvery: \"\"\n*PostAction Batch: \"\"\n"
    "*CloseUI: *PostAction\n"
    "*OpenUI *CutEveryLabels: PickOne\n*DefaultCutEveryLabels: 1\n*CutEveryLabels 0: \"\"\n"
    "*CutEveryLabels 1: \"\"\n*CutEveryLabels 25: \"\"\n*CutEveryLabels 123456789: \"\"\n"
    "*CloseUI: *CutEveryLabels\n"
    "*OpenUI *PrintSpeed: PickOne\n*DefaultPrintSpeed: 4\n*PrintSpeed 4: \"\"\n"
    "*CloseUI: *PrintSpeed\n"
    "*OpenUI *Darkness: PickOne\n*DefaultDarkness: 8\n*Darkness 8: \"\"\n"
    "*CloseUI: *Darkness\n";

struct JobInput {
  std::string options;              // argv[5]
  std::span<const uint8_t> raster;  // the raster stream
};

inline JobInput SplitJobInput(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2) return {"", bytes};
  static const char* const kDithering[] = {"None", "Threshold", "OrderDithering", "ErrorDiffusion"};
  static const char* const kPaper[] = {"LabelGaps", "LabelMark", "Continue"};
  static const char* const kPost[] = {"TearOff", "PeelOff", "CutEvery", "Batch"};
  static const char* const kCut[] = {"0", "1", "25", "123456789"};
  static const char* const kThreshold[] = {"-40", "-20", "0", "20", "40"};
  const unsigned a = bytes[0], b = bytes[1];
  std::string o = std::string("Dithering=") + kDithering[a & 3];
  o += " Origin=Rotation" + std::to_string(90 * ((a >> 2) & 3));
  o += (a & 0x10) ? " MirrorImage=True" : " MirrorImage=False";
  o += (a & 0x20) ? " NegativeImage=True" : " NegativeImage=False";
  if ((a >> 6) < 3) o += std::string(" PaperType=") + kPaper[a >> 6];
  o += std::string(" PostAction=") + kPost[b & 3];
  o += std::string(" CutEveryLabels=") + kCut[(b >> 2) & 3];
  if (((b >> 4) & 7) < 5) o += std::string(" Threshold=") + kThreshold[(b >> 4) & 7];
  o += (b & 0x80) ? " MediaMethod=Transfer" : " MediaMethod=Direct";
  return {o, bytes.subspan(2)};
}
