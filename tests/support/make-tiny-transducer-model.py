#!/usr/bin/python3
"""Writes a tiny offline transducer (encoder, decoder, joiner) for sherpa-onnx whose answer the
vocabulary decides: whatever it hears, it says one token and then nothing. "あ" is the likelier,
"い" a little less likely, so the plain decode says あ and a hotword い tips it over.

usage: make-tiny-transducer-model.py DIR
"""
import sys
import onnx
from onnx import TensorProto, helper

FEATURES = 80
DIM = 3
TOKENS = ["<blk>", "あ", "い"]


def save(graph, path, metadata=()):
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    model.ir_version = 8
    for key, value in metadata:
        entry = model.metadata_props.add()
        entry.key, entry.value = key, value
    onnx.checker.check_model(model)
    onnx.save(model, path)


def main():
    out = sys.argv[1]
    vocab = len(TOKENS)
    # encoder_out = x[:, ::4, :] @ zeros: one frame per 40 ms; what it heard does not matter.
    save(helper.make_graph(
        [helper.make_node("Slice", ["x", "start", "end", "axis", "step"], ["sub"]),
         helper.make_node("MatMul", ["sub", "project"], ["encoder_out"]),
         helper.make_node("Div", ["x_lens", "four"], ["encoder_out_lens"])],
        "tiny_encoder",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, ["N", "T", FEATURES]),
         helper.make_tensor_value_info("x_lens", TensorProto.INT64, ["N"])],
        [helper.make_tensor_value_info("encoder_out", TensorProto.FLOAT, ["N", "U", DIM]),
         helper.make_tensor_value_info("encoder_out_lens", TensorProto.INT64, ["N"])],
        [helper.make_tensor("start", TensorProto.INT64, [1], [0]),
         helper.make_tensor("end", TensorProto.INT64, [1], [1 << 30]),
         helper.make_tensor("axis", TensorProto.INT64, [1], [1]),
         helper.make_tensor("step", TensorProto.INT64, [1], [4]),
         helper.make_tensor("project", TensorProto.FLOAT, [FEATURES, DIM], [0.0] * (FEATURES * DIM)),
         helper.make_tensor("four", TensorProto.INT64, [], [4])]),
        out + "/encoder.onnx")
    # decoder_out = one-hot of whether anything was said: blank -> [1,0,0], a token -> [0,1,0].
    save(helper.make_graph(
        [helper.make_node("Gather", ["embedding", "y"], ["embedded"], axis=0),
         helper.make_node("Squeeze", ["embedded", "one"], ["decoder_out"])],
        "tiny_decoder",
        [helper.make_tensor_value_info("y", TensorProto.INT64, ["N", 1])],
        [helper.make_tensor_value_info("decoder_out", TensorProto.FLOAT, ["N", DIM])],
        [helper.make_tensor("embedding", TensorProto.FLOAT, [vocab, DIM], [1, 0, 0, 0, 1, 0, 0, 1, 0]),
         helper.make_tensor("one", TensorProto.INT64, [1], [1])]),
        out + "/decoder.onnx", (("vocab_size", str(vocab)), ("context_size", "1")))
    # logit = decoder_out @ table (+ 0 * encoder_out): before a token あ 0, い -0.5, blank -3;
    # after it, blank.
    save(helper.make_graph(
        [helper.make_node("MatMul", ["decoder_out", "table"], ["scores"]),
         helper.make_node("Mul", ["encoder_out", "zero"], ["ignored"]),
         helper.make_node("ReduceSum", ["ignored", "axes"], ["nothing"], keepdims=1),
         helper.make_node("Add", ["scores", "nothing"], ["logit"])],
        "tiny_joiner",
        [helper.make_tensor_value_info("encoder_out", TensorProto.FLOAT, ["N", DIM]),
         helper.make_tensor_value_info("decoder_out", TensorProto.FLOAT, ["N", DIM])],
        [helper.make_tensor_value_info("logit", TensorProto.FLOAT, ["N", vocab])],
        [helper.make_tensor("table", TensorProto.FLOAT, [DIM, vocab], [-3, 0, -0.5, 0, -20, -20, 0, 0, 0]),
         helper.make_tensor("zero", TensorProto.FLOAT, [], [0.0]),
         helper.make_tensor("axes", TensorProto.INT64, [1], [1])]),
        out + "/joiner.onnx")
    with open(out + "/tokens.txt", "w", encoding="utf-8") as f:
        for i, token in enumerate(TOKENS):
            f.write(f"{token} {i}\n")


if __name__ == "__main__":
    main()
