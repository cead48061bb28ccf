// A throw-away PPD with chosen defaults, for tests that read PPD choices.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

class TestPpd {
 public:
  // Each entry becomes a PickOne option whose only (and default) choice is
  // the given name.
  explicit TestPpd(const std::map<std::string, std::string>& defaults) {
    char name[] = "/tmp/labelppdXXXXXX";
    int fd = mkstemp(name);
    close(fd);
    path_ = name;
    std::ofstream f(path_);
    f << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"TEST.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n"
         "*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n"
         "*PSVersion: \"(3010.000) 0\"\n";
    for (const auto& [key, choice] : defaults) {
      f << "*OpenUI *" << key << ": PickOne\n*Default" << key << ": " << choice << "\n*" << key
        << " " << choice << ": \"\"\n*CloseUI: *" << key << "\n";
    }
  }
  ~TestPpd() { unlink(path_.c_str()); }
  TestPpd(const TestPpd&) = delete;
  TestPpd& operator=(const TestPpd&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
