// A stand-in for libvosk with the same C functions, built by the project so that the real
// dlopen and adapter code run in CI. A "model" is a folder holding a file named stub-model and
// a script.txt of lines "SECONDS partial|final TEXT": the recogniser reports each line once the
// audio it was fed reaches that time. A fault.txt makes it fail as real libraries do:
// "exit-at-load" or "abort-at-load", or "abort SECONDS", "segv SECONDS", "hang SECONDS" once the
// audio reaches that time.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Line {
    double seconds;
    bool isFinal;
    std::string text;
};

struct Model {
    std::vector<Line> script;
    std::string fault;
    double faultSeconds = 0;
};

struct Recognizer {
    const Model* model;
    double rate;
    long long samples = 0;
    size_t next = 0;
    std::string partial;
    std::string json;
};

std::string quoted(const std::string& key, const std::string& value)
{
    std::string out = "{\"" + key + "\" : \"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"}";
}

} // namespace

extern "C" {

void vosk_set_log_level(int) {}

void* vosk_model_new(const char* path)
{
    struct stat st {};
    const std::string dir(path ? path : "");
    if (stat((dir + "/stub-model").c_str(), &st) != 0)
        return nullptr;
    auto* model = new Model;
    std::ifstream faults(dir + "/fault.txt");
    faults >> model->fault >> model->faultSeconds;
    if (model->fault == "exit-at-load")
        std::exit(255);
    if (model->fault == "abort-at-load")
        std::abort();
    std::ifstream in(dir + "/script.txt");
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream fields(row);
        Line line{};
        std::string kind;
        if (!(fields >> line.seconds >> kind))
            continue;
        std::getline(fields >> std::ws, line.text);
        line.isFinal = kind == "final";
        model->script.push_back(line);
    }
    return model;
}

void vosk_model_free(void* model) { delete static_cast<Model*>(model); }

void* vosk_recognizer_new(void* model, float rate) { return new Recognizer{static_cast<Model*>(model), rate}; }

void vosk_recognizer_free(void* r) { delete static_cast<Recognizer*>(r); }

int vosk_recognizer_accept_waveform_s(void* handle, const short*, int length)
{
    auto* r = static_cast<Recognizer*>(handle);
    r->samples += length;
    const double now = static_cast<double>(r->samples) / r->rate;
    if (!r->model->fault.empty() && now >= r->model->faultSeconds) {
        if (r->model->fault == "segv")
            std::raise(SIGSEGV);
        if (r->model->fault == "abort")
            std::abort();
        while (r->model->fault == "hang")
            ::pause();
    }
    while (r->next < r->model->script.size() && r->model->script[r->next].seconds <= now) {
        const Line& line = r->model->script[r->next++];
        if (line.isFinal) {
            r->partial.clear();
            r->json = quoted("text", line.text);
            return 1;
        }
        r->partial = line.text;
    }
    return 0;
}

const char* vosk_recognizer_result(void* handle)
{
    return static_cast<Recognizer*>(handle)->json.c_str();
}

const char* vosk_recognizer_partial_result(void* handle)
{
    auto* r = static_cast<Recognizer*>(handle);
    r->json = quoted("partial", r->partial);
    return r->json.c_str();
}

const char* vosk_recognizer_final_result(void* handle)
{
    // What is left of the script counts as said by the end of the input.
    auto* r = static_cast<Recognizer*>(handle);
    std::string text = r->partial;
    while (r->next < r->model->script.size()) {
        const Line& line = r->model->script[r->next++];
        if (line.isFinal)
            text = line.text;
    }
    r->partial.clear();
    r->json = quoted("text", text);
    return r->json.c_str();
}

} // extern "C"
