#include "engine/SherpaOnnxApi.h"

#include "engine/DynamicLibrary.h"

namespace vel {

std::shared_ptr<SherpaOnnxApi> SherpaOnnxApi::load(const QString& path, QString* why)
{
    QString loaded;
    void* handle = DynamicLibrary::open(path, why, &loaded);
    if (!handle)
        return nullptr;
    auto api = std::make_shared<SherpaOnnxApi>();
    api->handle = handle;
    api->path = loaded;
    using DynamicLibrary::bind;
    const bool ok = bind(handle, "SherpaOnnxGetVersionStr", api->version)
                    && bind(handle, "SherpaOnnxCreateOfflineRecognizer", api->createRecognizer)
                    && bind(handle, "SherpaOnnxDestroyOfflineRecognizer", api->destroyRecognizer)
                    && bind(handle, "SherpaOnnxCreateOfflineStream", api->createStream)
                    && bind(handle, "SherpaOnnxCreateOfflineStreamWithHotwords", api->createStreamWithHotwords)
                    && bind(handle, "SherpaOnnxDestroyOfflineStream", api->destroyStream)
                    && bind(handle, "SherpaOnnxAcceptWaveformOffline", api->acceptWaveform)
                    && bind(handle, "SherpaOnnxDecodeOfflineStream", api->decode)
                    && bind(handle, "SherpaOnnxGetOfflineStreamResult", api->result)
                    && bind(handle, "SherpaOnnxDestroyOfflineRecognizerResult", api->destroyResult);
    if (!ok) {
        if (why)
            *why = QStringLiteral("%1 lacks the functions of libsherpa-onnx-c-api").arg(path);
        return nullptr;
    }
    return api;
}

SherpaOnnxApi::~SherpaOnnxApi()
{
    if (handle)
        dlclose(handle);
}

} // namespace vel
