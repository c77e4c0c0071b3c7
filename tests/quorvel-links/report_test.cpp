// The HTML report, opened as its reader opens it: in a real browser
// (headless Chromium), where it must load without a console error, sort by
// a measure, filter by item text and show its picture.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::run;
using testsupport::runLinks;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// The bundled export mined as the demo mines it, into `dir`/rules.tsv.
std::string demoRules(const TempDir& dir) {
    const auto mined = runRules(
        {"--csv", "--subject=patient_id", "--time=recorded_at", "--item=activity",
         "--time-format=iso8601", "-c", "15", "-w", "60d",
         std::string(QUORVEL_SOURCE_DIR) + "/examples/clinic-export.csv", dir.file("rules.tsv")});
    EXPECT_EQ(mined.status, 0) << mined.err;
    return dir.file("rules.tsv");
}

std::string browser() {
    const auto found = run("/bin/sh", {"-c", "command -v chromium || command -v chromium-browser"});
    return found.status == 0 ? found.out.substr(0, found.out.find('\n')) : "";
}

testsupport::RunResult headless(const std::string& chromium, std::vector<std::string> args) {
    std::vector<std::string> all = {"--headless",
                                    "--no-sandbox",
                                    "--disable-gpu",
                                    "--allow-file-access-from-files",
                                    "--enable-logging=stderr",
                                    "--v=0",
                                    "--virtual-time-budget=5000"};
    all.insert(all.end(), args.begin(), args.end());
    return run(chromium, all);
}

// Lines where a page's script said something on the console.
std::string consoleLines(const std::string& err) {
    std::string lines;
    for (size_t at = 0; at < err.size();) {
        const size_t end = std::min(err.find('\n', at), err.size());
        const std::string line = err.substr(at, end - at);
        if (line.find(":CONSOLE") != std::string::npos)
            lines += line + '\n';
        at = end + 1;
    }
    return lines;
}

// Opens the report in a frame, sorts it by lift, filters it by "statin"
// and writes what it saw into its own page as JSON.
const char* HARNESS = R"(<!DOCTYPE html><html><body><pre id="result">pending</pre>
<iframe id="page" src="report.html" width="1200" height="800"></iframe><script>
document.getElementById("page").addEventListener("load", function () {
  var out = {};
  try {
    var doc = this.contentDocument, table = doc.getElementById("rules"), col = -1;
    var rows = function () { return Array.prototype.slice.call(table.tBodies[0].rows); };
    Array.prototype.forEach.call(table.tHead.rows[0].cells, function (h, i) {
      if (h.getAttribute("data-measure") === "lift") col = i;
    });
    var lifts = function () {
      return rows().map(function (r) { return parseFloat(r.cells[col].textContent); });
    };
    var before = lifts();
    table.tHead.rows[0].cells[col].dispatchEvent(new MouseEvent("click", {bubbles: true}));
    var after = lifts(), sorted = true;
    for (var i = 1; i < after.length; ++i) sorted = sorted && after[i - 1] >= after[i];
    out.reordered = before.join() !== after.join();
    out.descending = sorted;
    out.total = after.length;
    var filter = doc.getElementById("filter");
    filter.value = "statin";
    filter.dispatchEvent(new Event("input", {bubbles: true}));
    var visible = rows().filter(function (r) { return !r.hidden; });
    out.visible = visible.length;
    out.allMatch = visible.every(function (r) {
      return (r.cells[0].textContent + " " + r.cells[1].textContent).indexOf("statin") >= 0;
    });
    out.shown = doc.getElementById("shown").textContent;
    out.pictures = doc.querySelectorAll(".picture svg").length;
  } catch (e) { out.error = String(e); }
  document.getElementById("result").textContent = JSON.stringify(out);
});
</script></body></html>
)";

std::string field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const size_t at = json.find(key);
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size();
    return json.substr(from, json.find_first_of(",}", from) - from);
}

} // namespace

TEST(Report, OneFileWithTheRulesThePictureAndAKeyFetchingNothing) {
    TempDir dir;
    const std::string rules = demoRules(dir);
    const auto plain = runLinks({rules, dir.file("plain.dot")});
    const auto drawn = runLinks({"--html=" + dir.file("report.html"), rules, dir.file("g.dot")});
    ASSERT_EQ(drawn.status, 0) << drawn.err;
    // Asking for the report changes nothing else.
    EXPECT_EQ(readFile(dir.file("g.dot")), readFile(dir.file("plain.dot")));
    EXPECT_EQ(drawn.err, plain.err);
    const std::string page = readFile(dir.file("report.html"));
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    for (const char* fetch : {"src=\"http", "href=\"http", "url(http", "<link", "@import"})
        EXPECT_EQ(page.find(fetch), std::string::npos) << fetch;
    EXPECT_NE(page.find("How to read it"), std::string::npos);
    EXPECT_NE(page.find("<dt>Minimum count</dt><dd>5</dd>"), std::string::npos);
    // Every rule of the table is a row.
    const std::string table = readFile(rules);
    const size_t ruleRows = static_cast<size_t>(std::count(table.begin(), table.end(), '\n')) - 1;
    size_t rows = 0;
    for (size_t at = page.find("<tr><td"); at != std::string::npos;
         at = page.find("<tr><td", at + 1))
        ++rows;
    EXPECT_EQ(rows, ruleRows);
    if (run("/bin/sh", {"-c", "command -v dot"}).status == 0) {
        EXPECT_NE(page.find("<svg"), std::string::npos);
    }

    // Items are text, never markup; without Graphviz the page says so.
    writeFile(dir.file("odd.tsv"),
              "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
              "Certainty\n<script>alert(1)</script> => \"a&b\"\t5\t5\t0.5\t1\t2\tinf\t1\tinf\n");
    const auto odd = run("/bin/sh",
                         {"-c", std::string("PATH=/nonexistent exec ") + QUORVEL_LINKS_BIN +
                                    " --html=odd.html odd.tsv o.dot"},
                         "", dir.path());
    ASSERT_EQ(odd.status, 0) << odd.err;
    const std::string oddPage = readFile(dir.file("odd.html"));
    EXPECT_EQ(oddPage.find("<script>alert"), std::string::npos);
    EXPECT_NE(oddPage.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(oddPage.find("a&amp;b"), std::string::npos);
    EXPECT_NE(oddPage.find("Graphviz&#39;s dot was not found, so the picture is left out."),
              std::string::npos);

    // A table with delays shows them, sortable, after the measures.
    writeFile(dir.file("timed.tsv"),
              "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
              "Certainty\tDelay Min\tDelay Median\tDelay P90\tDelay Max\n"
              "a => b\t5\t5\t0.5\t1\t2\tinf\t1\tinf\t3\t7\t86400\t90000\n");
    ASSERT_EQ(runLinks({"--html=" + dir.file("timed.html"), dir.file("timed.tsv"),
                        dir.file("t.dot")})
                  .status,
              0);
    const std::string timedPage = readFile(dir.file("timed.html"));
    EXPECT_NE(timedPage.find("<th data-measure=\"certainty\">Certainty</th><th "
                             "data-measure=\"delay_min\">Delay Min</th>"),
              std::string::npos);
    EXPECT_NE(timedPage.find("<th data-measure=\"delay_max\">Delay Max</th></tr>"),
              std::string::npos);
    EXPECT_NE(timedPage.find(">86400</td>"), std::string::npos);
    EXPECT_EQ(page.find("delay_min"), std::string::npos);

    // The report is an output like the others: never the input.
    const auto same = runLinks({"--html=" + rules, rules, dir.file("x.dot")});
    EXPECT_EQ(same.status, 2);
    EXPECT_EQ(readFile(rules), table);
}

TEST(Report, ABrowserLoadsSortsAndFiltersIt) {
    const std::string chromium = browser();
    if (chromium.empty())
        GTEST_SKIP() << "Chromium is absent (scripts/need.sh test installs it): the report is "
                        "not opened in a browser";
    TempDir dir;
    const auto drawn =
        runLinks({"--html=" + dir.file("report.html"), demoRules(dir), dir.file("g.dot")});
    ASSERT_EQ(drawn.status, 0) << drawn.err;

    // The console is watched: a page with a fault is seen to have one.
    writeFile(dir.file("faulty.html"), "<html><body><script>noSuchFunction();</script></body>");
    const auto faulty = headless(chromium, {"--dump-dom", "file://" + dir.file("faulty.html")});
    ASSERT_NE(consoleLines(faulty.err).find("noSuchFunction"), std::string::npos) << faulty.err;
    const auto loaded = headless(chromium, {"--dump-dom", "file://" + dir.file("report.html")});
    EXPECT_NE(loaded.out.find("id=\"rules\""), std::string::npos) << loaded.err;
    EXPECT_EQ(consoleLines(loaded.err), "");

    writeFile(dir.file("harness.html"), HARNESS);
    const auto used = headless(chromium, {"--dump-dom", "file://" + dir.file("harness.html")});
    const size_t at = used.out.find("<pre id=\"result\">");
    ASSERT_NE(at, std::string::npos) << used.out << used.err;
    const std::string json = used.out.substr(at, used.out.find("</pre>", at) - at);
    EXPECT_EQ(field(json, "error"), "") << json;
    EXPECT_EQ(field(json, "reordered"), "true") << json;
    EXPECT_EQ(field(json, "descending"), "true") << json;
    EXPECT_EQ(field(json, "allMatch"), "true") << json;
    const int total = std::stoi(field(json, "total")), visible = std::stoi(field(json, "visible"));
    EXPECT_GT(visible, 0) << json;
    EXPECT_LT(visible, total) << json;
    EXPECT_EQ(field(json, "shown"), "\"" + std::to_string(visible) + "\"") << json;
    if (run("/bin/sh", {"-c", "command -v dot"}).status == 0) {
        EXPECT_EQ(field(json, "pictures"), "1") << json;
    }
    EXPECT_EQ(consoleLines(used.err), "");

    // A picture of the page, kept with the test's output.
    ::mkdir("test-output", 0755);
    const auto shot = headless(chromium, {"--hide-scrollbars", "--window-size=1280,2000",
                                          "--screenshot=test-output/report.png",
                                          "file://" + dir.file("report.html")});
    EXPECT_EQ(readFile("test-output/report.png").substr(1, 3), "PNG") << shot.err;
}

TEST(Report, ALayoutPastItsTimeIsStoppedAndThePageSaysWhy) {
    TempDir dir;
    const std::string rules = demoRules(dir);
    // A dot that never finishes, and says who it is.
    writeFile(dir.file("dot"), "#!/bin/sh\necho $$ > " + dir.file("dot.pid") +
                                   "\ncat > /dev/null\nexec sleep 1000\n");
    ASSERT_EQ(::chmod(dir.file("dot").c_str(), 0755), 0);
    const std::string path = "PATH=" + dir.path() + ":$PATH ";
    const std::string links = std::string(QUORVEL_LINKS_BIN);
    auto r = run("/bin/sh",
                 {"-c", path + "exec " + links + " --layout-seconds=1 --html=r.html " + rules +
                            " g.dot"},
                 "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = readFile(dir.file("r.html"));
    EXPECT_NE(page.find("<p>Graphviz&#39;s dot was still laying out the graph after 1 s "
                        "(--layout-seconds), so the picture is left out; --top=N draws only "
                        "the N strongest links.</p>"),
              std::string::npos)
        << page.substr(0, 3000);
    EXPECT_NE(page.find("<table id=\"rules\">"), std::string::npos);
    EXPECT_NE(readFile(dir.file("g.dot")).find("->"), std::string::npos);
    // The stopped dot is gone, and nothing was left in the scratch folder.
    const std::string pid = readFile(dir.file("dot.pid"));
    EXPECT_NE(run("/bin/sh", {"-c", "kill -0 " + pid}).status, 0) << pid;

    // Ended by a signal while dot lays out: dot ends with it, no output
    // or scratch file stays.
    ::unlink(dir.file("dot.pid").c_str());
    auto killed = run("/bin/sh", {"-c", path + links + " --html=k.html " + rules +
                                            " k.dot & p=$!; while [ ! -s dot.pid ]; do sleep "
                                            "0.1; done; kill -TERM $p; wait $p; echo $?"},
                      "", dir.path());
    EXPECT_EQ(killed.out, "143\n") << killed.err;
    const std::string second = readFile(dir.file("dot.pid"));
    bool gone = false;
    for (int k = 0; k < 600 && !gone; ++k) { // dot is killed as its parent ends
        gone = run("/bin/sh", {"-c", "kill -0 " + second}).status != 0;
        if (!gone)
            ::usleep(100000);
    }
    EXPECT_TRUE(gone) << second;
    EXPECT_FALSE(testsupport::fileExists(dir.file("k.html")));
    EXPECT_FALSE(testsupport::fileExists(dir.file("k.dot")));
    auto stray = run("/bin/sh", {"-c", "ls " + dir.path()});
    EXPECT_EQ(stray.out.find(".tmp"), std::string::npos) << stray.out;
}
