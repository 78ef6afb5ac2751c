// Seeds for skin_fuzzer: the default skins and small skins of every kind of control.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: skin_seeds CORPUS_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string skins = SOLMERE_SKIN_SOURCE_DIR;
  const std::string seeds[] = {
      Read(skins + "/mainuni.xml"),
      Read(skins + "/mbtuni.xml"),
      R"(<Window Background="a.png"><Button Name="B" X="1" Y="2" RectX="0" RectY="0" RectW="10" RectH="-1" )"
      R"(Text="Да" TextAlign="center" FontColor="0x80,255,0,1"><Image Name="Normal" Background="b.png"/>)"
      R"(<Image Name="Progress" Background="big.png"/></Button></Window>)",
      R"(<Window Background="a.png"><Label Name="L" X="5" Y="6" Width="50" Height="10" Size="20" )"
      R"(FontShadow="0" TextVerticalAlign="bottom"/><ProgressBar Name="P" X="0" Y="0" Text="%d%%">)"
      R"(<Image Name="Normal" Background="c.png"/><Image Name="Progress" Background="c.png"/></ProgressBar>)"
      R"(<Browser Name="W" X="1" Y="1" Width="30" Height="20" Url="about:blank"/></Window>)",
  };
  int index = 0;
  for (const std::string& seed : seeds) {
    if (seed.empty() || !Write(dir + "/seed" + std::to_string(index++) + ".xml", seed)) return 1;
  }
  return 0;
}
