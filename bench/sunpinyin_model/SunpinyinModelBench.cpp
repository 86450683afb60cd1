// The generated SunPinyin model against Debian's stock model, side by side on
// everyday sentences: how many first sentences come out exactly right, the time
// of one whole buffer and of one key while typing, and the files' sizes.
//
//   bench_sunpinyin_model [rounds] [generated dir] [stock dir]
//
// The engine holds one model per process, so each model runs in a child.
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "bench/TypingSentences.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sentence {
    const char* pinyin;
    const char* text;
};

// Everyday sentences, written for this comparison.
const Sentence kSentences[] = {
    {"woxianzaizaigongsikaihui", "我现在在公司开会"},
    {"wanshangyiqichifanba", "晚上一起吃饭吧"},
    {"zhegewentiwomenmingtianzaitaolun", "这个问题我们明天再讨论"},
    {"qingbawenjianfadaowodeyouxiang", "请把文件发到我的邮箱"},
    {"tianqiyubaoshuomingtianhuixiayu", "天气预报说明天会下雨"},
    {"wozuotianmaileyibenxinshu", "我昨天买了一本新书"},
    {"nikeyibangwodaiyibeikafeima", "你可以帮我带一杯咖啡吗"},
    {"huochezhanlizhelibuyuan", "火车站离这里不远"},
    {"haizimenzaigongyuanliwan", "孩子们在公园里玩"},
    {"zhegezhoumowoyaohuijia", "这个周末我要回家"},
    {"dianyingqidianbankaishi", "电影七点半开始"},
    {"qingzaizheliqianzi", "请在这里签字"},
    {"womendehuiyigaidaoxiawule", "我们的会议改到下午了"},
    {"tahenxihuantingyinyue", "他很喜欢听音乐"},
    {"chaoshidedongxiyoudiangui", "超市的东西有点贵"},
    {"woxiangqushanghailvyou", "我想去上海旅游"},
    {"zheshiwodiyicilaibeijing", "这是我第一次来北京"},
    {"qingwenxishoujianzainali", "请问洗手间在哪里"},
    {"wangluohaoxiangyouwenti", "网络好像有问题"},
    {"diannaoturansijile", "电脑突然死机了"},
    {"woyijingbagongzuowanchengle", "我已经把工作完成了"},
    {"tamendeerzijinniankaodaxue", "他们的儿子今年考大学"},
    {"yiyuanzaimaludeduimian", "医院在马路的对面"},
    {"zhejianyifuyouhongsedema", "这件衣服有红色的吗"},
    {"wowangledaiyaoshi", "我忘了带钥匙"},
    {"qingdajiabaochianjing", "请大家保持安静"},
    {"womenyaozhuyishentijiankang", "我们要注意身体健康"},
    {"zhegecaiyouyidianla", "这个菜有一点辣"},
    {"feijiwandianlebangexiaoshi", "飞机晚点了半个小时"},
    {"xiexienidebangzhu", "谢谢你的帮助"},
    {"duibuqiwolaiwanle", "对不起我来晚了"},
    {"meiguanxixiacizhuyijiuhao", "没关系下次注意就好"},
    {"tadedianhuahaomashiduoshao", "他的电话号码是多少"},
    {"zhegexiangmuxuyaogengduoshijian", "这个项目需要更多时间"},
    {"xuexiaofangjiaqianyaokaoshi", "学校放假前要考试"},
    {"woxiangyudingliangzhangpiao", "我想预订两张票"},
    {"jintianlushanghendu", "今天路上很堵"},
    {"xiaomaozaishafashangshuijiao", "小猫在沙发上睡觉"},
    {"zhoumowomenqujiaowaipashan", "周末我们去郊外爬山"},
    {"biewangledaisan", "别忘了带伞"},
    {"zhejiacanguandefuwuhenhao", "这家餐馆的服务很好"},
    {"wodeshoujimeidianle", "我的手机没电了"},
    {"nixuyaoduoxiuxi", "你需要多休息"},
    {"zhegegongnengzenmeshiyong", "这个功能怎么使用"},
    {"womenyijingshoudaonidexiaoxi", "我们已经收到你的消息"},
    {"xiageyuewoyaobanjia", "下个月我要搬家"},
    {"tayijingjiehunsannianle", "他已经结婚三年了"},
    {"qingbachuanghuguanshang", "请把窗户关上"},
    {"zheliyoumeiyoumianfeidewangluo", "这里有没有免费的网络"},
    {"woduizhegejieguohenmanyi", "我对这个结果很满意"},
    {"mamazaichufangzuofan", "妈妈在厨房做饭"},
    {"laoshirangwomenxiezuowen", "老师让我们写作文"},
    {"gongsimingtianfangyitianjia", "公司明天放一天假"},
};

struct Result {
    int correct = 0;
    double bufferMedianUs = 0, bufferMeanUs = 0, keyMedianUs = 0, keyP99Us = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

using Clock = std::chrono::steady_clock;

// In the child: loads the model from `dir` and measures.
Result measure(const std::string& dir, int rounds, bool printMisses)
{
    Result r;
    if (!plat::SunpinyinWrapper::useModelDirectory(dir) || !plat::SunpinyinWrapper::isAvailable()) {
        r.correct = -1;
        return r;
    }
    plat::SunpinyinWrapper wrapper;
    for (const auto& s : kSentences) {
        const std::string got = wrapper.candidateWithBuffer(s.pinyin);
        if (got == s.text)
            ++r.correct;
        else if (printMisses)
            std::printf("    %-36s %s (wanted %s)\n", s.pinyin, got.c_str(), s.text);
    }
    // Whole buffers, each from scratch (no sentence extends the one before).
    std::vector<double> buffers;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& s : kSentences) {
            const auto start = Clock::now();
            const std::string got = wrapper.candidateWithBuffer(s.pinyin);
            buffers.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            if (got.empty())
                std::abort();
        }
    }
    // Typing: every prefix in order, as the strategies ask after each key.
    std::vector<double> keys;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& s : kSentences) {
            const std::string pinyin = s.pinyin;
            for (std::size_t n = 1; n <= pinyin.size(); ++n) {
                const auto start = Clock::now();
                const std::string got = wrapper.candidateWithBuffer(pinyin.substr(0, n));
                keys.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            }
        }
    }
    r.bufferMedianUs = median(buffers);
    double sum = 0;
    for (double b : buffers)
        sum += b;
    r.bufferMeanUs = buffers.empty() ? 0 : sum / buffers.size();
    r.keyMedianUs = median(keys);
    std::sort(keys.begin(), keys.end());
    r.keyP99Us = keys.empty() ? 0 : keys[std::min(keys.size() - 1, keys.size() * 99 / 100)];
    return r;
}

// Runs `measure` in a child process (the misses go straight to stdout).
bool measureInChild(const std::string& dir, int rounds, Result& out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        close(fds[0]);
        const Result r = measure(dir, rounds, true);
        std::fflush(stdout);
        const bool ok = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    const bool ok = read(fds[0], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 && out.correct >= 0;
}

double megabytes(const std::filesystem::path& p)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(p, ec);
    return ec ? 0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string generated = argc > 2 ? argv[2] : GENERATED_MODEL_DIR;
    const std::string stock = argc > 3 ? argv[3] : STOCK_MODEL_DIR;
    taviro::bench::useTemporaryHome("bench_sunpinyin_model");

    const int total = static_cast<int>(std::size(kSentences));
    std::printf("%d sentences, %d rounds\n", total, rounds);
    struct Row {
        const char* name;
        std::string dir;
        Result result;
        bool ok = false;
    } rows[] = {{"generated", generated, {}, false}, {"stock", stock, {}, false}};
    for (auto& row : rows) {
        std::printf("%s (%s), wrong first sentences:\n", row.name, row.dir.c_str());
        row.ok = measureInChild(row.dir, rounds, row.result);
        if (!row.ok)
            std::printf("    the model could not be loaded\n");
    }
    std::printf("\n%-10s %9s %14s %14s %12s %12s %10s %10s\n", "model", "correct", "buffer med us",
                "buffer mean us", "key med us", "key p99 us", "t3g MB", "pydict MB");
    for (const auto& row : rows) {
        if (!row.ok)
            continue;
        const Result& r = row.result;
        std::printf("%-10s %4d/%-4d %14.1f %14.1f %12.1f %12.1f %10.1f %10.1f\n", row.name, r.correct, total,
                    r.bufferMedianUs, r.bufferMeanUs, r.keyMedianUs, r.keyP99Us,
                    megabytes(std::filesystem::path(row.dir) / "lm_sc.t3g"),
                    megabytes(std::filesystem::path(row.dir) / "pydict_sc.bin"));
    }
    return rows[0].ok && rows[1].ok ? 0 : 1;
}
