#pragma once

#include <QString>

#include <cstdint>
#include <memory>

namespace vel {

// The C structures of libsherpa-onnx-c-api 1.13.8 that the program fills, declared here in the
// library's field order (no header ships with the npm package). A change of the library's
// version must check them again: its debug print of the configuration names every field.
namespace sherpa {
extern "C" {
struct Transducer { const char *encoder, *decoder, *joiner; };
struct OneFile { const char* model; };
struct Whisper {
    const char *encoder, *decoder, *language, *task;
    int32_t tailPaddings, tokenTimestamps, segmentTimestamps;
};
struct SenseVoice { const char *model, *language; int32_t useItn; };
struct Moonshine { const char *preprocessor, *encoder, *uncachedDecoder, *cachedDecoder, *mergedDecoder; };
struct FireRedAsr { const char *encoder, *decoder; };
struct Canary { const char *encoder, *decoder, *srcLang, *tgtLang; int32_t usePnc; };
struct FunAsrNano {
    const char *encoderAdaptor, *llm, *embedding, *tokenizer, *systemPrompt, *userPrompt;
    int32_t maxNewTokens;
    float temperature, topP;
    int32_t seed;
    const char* language;
    int32_t itn;
    const char* hotwords;
};
struct Qwen3Asr {
    const char *convFrontend, *encoder, *decoder, *tokenizer;
    int32_t maxTotalLen, maxNewTokens;
    float temperature, topP;
    int32_t seed;
    const char* hotwords;
};
struct CohereTranscribe { const char *encoder, *decoder, *language; int32_t usePunct, useItn; };
struct ModelConfig {
    Transducer transducer;
    OneFile paraformer, nemoCtc;
    Whisper whisper;
    OneFile tdnn;
    const char* tokens;
    int32_t numThreads, debug;
    const char *provider, *modelType, *modelingUnit, *bpeVocab, *teleSpeechCtc;
    SenseVoice senseVoice;
    Moonshine moonshine;
    FireRedAsr fireRedAsr;
    OneFile dolphin, zipformerCtc;
    Canary canary;
    OneFile wenetCtc, omnilingual, medAsr;
    FunAsrNano funAsrNano;
    OneFile fireRedAsrCtc;
    Qwen3Asr qwen3Asr;
    CohereTranscribe cohereTranscribe;
};
struct FeatureConfig { int32_t sampleRate, featureDim; };
struct LmConfig { const char* model; float scale; };
struct HomophoneReplacer { const char *dictDir, *lexicon, *ruleFsts; };
struct RecognizerConfig {
    FeatureConfig feat;
    ModelConfig model;
    LmConfig lm;
    const char* decodingMethod;
    int32_t maxActivePaths;
    const char* hotwordsFile;
    float hotwordsScore;
    const char *ruleFsts, *ruleFars;
    float blankPenalty;
    HomophoneReplacer hr;
};
// Only its first field is read; the library owns the rest.
struct Result { const char* text; };
struct Recognizer;
struct Stream;
}
} // namespace sherpa

// The C functions of libsherpa-onnx-c-api the program calls, loaded with dlopen. The library
// finds its libonnxruntime.so beside itself.
struct SherpaOnnxApi {
    void* handle = nullptr;
    QString path; // the file the dynamic linker actually loaded
    const char* (*version)() = nullptr;
    const sherpa::Recognizer* (*createRecognizer)(const sherpa::RecognizerConfig*) = nullptr;
    void (*destroyRecognizer)(const sherpa::Recognizer*) = nullptr;
    const sherpa::Stream* (*createStream)(const sherpa::Recognizer*) = nullptr;
    const sherpa::Stream* (*createStreamWithHotwords)(const sherpa::Recognizer*, const char*) = nullptr;
    void (*destroyStream)(const sherpa::Stream*) = nullptr;
    void (*acceptWaveform)(const sherpa::Stream*, int32_t sampleRate, const float* samples, int32_t n) = nullptr;
    void (*decode)(const sherpa::Recognizer*, const sherpa::Stream*) = nullptr;
    const sherpa::Result* (*result)(const sherpa::Stream*) = nullptr;
    void (*destroyResult)(const sherpa::Result*) = nullptr;

    // Loads the library; on failure returns none and says why.
    static std::shared_ptr<SherpaOnnxApi> load(const QString& path, QString* why = nullptr);
    ~SherpaOnnxApi();
};

} // namespace vel
