#!/usr/bin/python3
"""Writes a tiny NeMo-style CTC model for sherpa-onnx: whatever it hears, its frame k (80 ms each)
says the token the script puts there, so decoding yields a known text: the whole text for a
recording long enough, a prefix for a shorter one.

usage: make-tiny-ctc-model.py DIR TOKEN@SECONDS ...   (for example あ@0.8 い@2.4 う@4.0)
"""
import sys
import onnx
from onnx import TensorProto, helper

SUBSAMPLING = 8          # feature frames (10 ms) per output frame
MAX_FRAMES = 1000        # 80 s of output frames
FEATURES = 80


def main():
    out, marks = sys.argv[1], sys.argv[2:]
    tokens = ["<blk>"]
    at = {}
    for mark in marks:
        token, seconds = mark.rsplit("@", 1)
        if token not in tokens:
            tokens.append(token)
        at[int(round(float(seconds) * 100 / SUBSAMPLING))] = tokens.index(token)
    vocab = len(tokens)
    pattern = []
    for frame in range(MAX_FRAMES):
        row = [-10.0] * vocab
        row[at.get(frame, 0)] = 0.0
        pattern.extend(row)

    # logprobs = pattern[:, :T / SUBSAMPLING, :], T being the number of feature frames.
    nodes = [
        helper.make_node("Shape", ["audio_signal"], ["shape"]),
        helper.make_node("Gather", ["shape", "two"], ["frames"], axis=0),
        helper.make_node("Div", ["frames", "subsampling"], ["out_frames"]),
        helper.make_node("Unsqueeze", ["out_frames", "zero"], ["end"]),
        helper.make_node("Slice", ["pattern", "start", "end", "one"], ["logprobs"]),
    ]
    initializers = [
        helper.make_tensor("pattern", TensorProto.FLOAT, [1, MAX_FRAMES, vocab], pattern),
        helper.make_tensor("two", TensorProto.INT64, [], [2]),
        helper.make_tensor("subsampling", TensorProto.INT64, [], [SUBSAMPLING]),
        helper.make_tensor("zero", TensorProto.INT64, [1], [0]),
        helper.make_tensor("start", TensorProto.INT64, [1], [0]),
        helper.make_tensor("one", TensorProto.INT64, [1], [1]),
    ]
    graph = helper.make_graph(
        nodes, "tiny_ctc",
        [helper.make_tensor_value_info("audio_signal", TensorProto.FLOAT, [1, FEATURES, "T"]),
         helper.make_tensor_value_info("length", TensorProto.INT64, [1])],
        [helper.make_tensor_value_info("logprobs", TensorProto.FLOAT, [1, "U", vocab])],
        initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    model.ir_version = 8
    for key, value in (("vocab_size", str(vocab)), ("subsampling_factor", str(SUBSAMPLING)), ("normalize_type", "")):
        entry = model.metadata_props.add()
        entry.key, entry.value = key, value
    onnx.checker.check_model(model)
    onnx.save(model, out + "/model.onnx")
    with open(out + "/tokens.txt", "w", encoding="utf-8") as f:
        for i, token in enumerate(tokens):
            f.write(f"{token} {i}\n")


if __name__ == "__main__":
    main()
