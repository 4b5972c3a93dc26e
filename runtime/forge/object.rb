# Object-level extensions: the ValueType mix-in marks the immutable values
# that serialise as themselves and are never primitives.
module ValueType
  def copy
    self
  end
end

class String
  include ValueType
end

class Symbol
  include ValueType
end

class Numeric
  include ValueType
end

class TrueClass
  include ValueType
end

class FalseClass
  include ValueType
end
