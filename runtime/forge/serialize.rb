# ORB::Serialize: a Hash view of an object's instance variables, used for
# inspection, game-state export and the development tools. Value types are
# kept as they are, Enumerables become Arrays, other objects serialise
# themselves; nil and false values are left out.
module ORB
  module Serialize
    def serialize
      result = {}
      instance_variables.each do |iv|
        value = instance_variable_get(iv)
        next unless value
        result[iv.to_s.delete("@=").to_sym] = Serialize.value_of(value)
      end
      result
    end

    def inspect
      serialize.to_s
    end

    def to_s
      serialize.to_s
    end

    def self.value_of(value)
      return value if value.is_a?(ValueType)
      return value.to_a if value.is_a?(Enumerable) && !value.is_a?(Hash)
      return value if value.is_a?(Hash)
      return value.serialize if value.respond_to?(:serialize)
      value.to_s
    end
  end
end
