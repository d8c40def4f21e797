# Flat rows from a stream of concatenated JSON blocks: nested names joined with "_", an array
# one value, the elements of a top-level array one row each. Emits each row's value count.
def flat($prefix):
  to_entries as $members
  | [$members[] | select(.value | type != "object") | [$prefix + .key, .value]]
    + ([$members[] | select(.value | type == "object") | .key as $key
        | .value | flat($prefix + $key + "_")] | add // []);
(if type == "array" then .[] else . end)
| select(type == "object")
| flat("")
| select(length > 0)
| length
