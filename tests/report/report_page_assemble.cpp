// Writes a report page from a data object file, through the same function the
// tester's report writer calls: report_page_assemble DATA.json OUT.html
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tester/report/page/report_page.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: report_page_assemble DATA.json OUT.html\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        std::cerr << argv[1] << ": cannot read\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    torvik::tester::WriteReportPage(out, data);
    out.close();
    if (!out) {
        std::cerr << argv[2] << ": cannot write\n";
        return 1;
    }
    return 0;
}
