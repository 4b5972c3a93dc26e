# Hash extensions used by the outputs: a Hash primitive names its kind by a
# `primitive_marker` key, or by the keys it carries.
class Hash
  def primitive_marker
    marker = self[:primitive_marker]
    return marker if marker
    return :label if key?(:text)
    return :sprite if key?(:path)
    return :solid if key?(:x3)
    return :line if key?(:x2)
    nil
  end
end
