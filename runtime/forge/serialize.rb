# ORB::Serialize: a Hash view of an object's instance variables, used for
# inspection and the development tools. Value types are kept as they are,
# Enumerables become Arrays, other objects serialise themselves; nil and
# false values are left out.
#
# Serialize.state_text writes saved game state: the script language's
# literal syntax for nil, true, false, numbers, Strings, Symbols, Arrays,
# Hashes and entities, nothing else, so the text can be read back by
# evaluating literals only. Values the syntax cannot carry are reported by
# where they sit in the state instead of being written.
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
      return value if value.is_a?(Hash)
      return value.to_a if value.is_a?(Enumerable)
      return value.serialize if value.respond_to?(:serialize)
      value.to_s
    end

    SKIPPED_KEYS = { __thrash_count__: true }.freeze
    REFS_KEY = :entity_keys_by_ref

    # Answers [text, problems]: problems lists one line per value that could
    # not be written (each written as nil), named by its path from root.
    def self.state_text(value, root = "state")
      out = ""
      problems = []
      __write__(value, out, root, problems, [])
      [out, problems]
    end

    def self.__write__(value, out, path, problems, ancestors)
      if value.nil?
        out << "nil"
      elsif value.equal?(true)
        out << "true"
      elsif value.equal?(false)
        out << "false"
      elsif value.is_a?(Integer)
        out << value.to_s
      elsif value.is_a?(Float)
        if value.finite?
          out << float_literal(value)
        else
          problems << "#{path} (#{value}: not a finite number)"
          out << "nil"
        end
      elsif value.is_a?(String) || value.is_a?(Symbol)
        out << value.inspect
      elsif __cycle__?(value, ancestors)
        problems << "#{path} (refers back to a value that contains it)"
        out << "nil"
      elsif value.is_a?(Array)
        ancestors << value
        out << "["
        i = 0
        while i < value.length
          out << ", " if i > 0
          __write__(value[i], out, "#{path}[#{i}]", problems, ancestors)
          i += 1
        end
        out << "]"
        ancestors.pop
      elsif value.is_a?(Hash)
        ancestors << value
        __write_pairs__(value, out, path, problems, ancestors, nil)
        ancestors.pop
      elsif value.is_a?(OpenEntity)
        ancestors << value
        hash = value.__hash__
        __write_pairs__(hash, out, path, problems, ancestors, __refs_of__(hash))
        ancestors.pop
      elsif value.is_a?(StrictEntity)
        ancestors << value
        value.update_entity_keys_by_ref
        __write_pairs__(value.to_hash, out, path, problems, ancestors, nil)
        ancestors.pop
      else
        problems << "#{path} (an object of class #{value.class})"
        out << "nil"
      end
      out
    end

    # refs, when given, replaces the entity's stored reference table.
    def self.__write_pairs__(hash, out, path, problems, ancestors, refs)
      out << "{"
      first = true
      hash.each do |k, v|
        next if refs && SKIPPED_KEYS[k]
        v = refs if refs && k == REFS_KEY
        out << ", " unless first
        first = false
        __write__(k, out, "a key of #{path}", problems, ancestors)
        out << "=>"
        __write__(v, out, __child_path__(path, k), problems, ancestors)
      end
      if refs && !refs.empty? && !hash.key?(REFS_KEY)
        out << ", " unless first
        out << REFS_KEY.inspect << "=>"
        __write__(refs, out, path, problems, ancestors)
      end
      out << "}"
    end

    # Properties of an open entity that hold one object (other than plain
    # values): every later name maps to the first.
    def self.__refs_of__(hash)
      seen = nil
      refs = nil
      hash.each do |k, v|
        next if v.nil? || v.is_a?(ValueType) || SKIPPED_KEYS[k] || k == REFS_KEY
        seen ||= {}
        first = seen[v.object_id]
        if first
          refs ||= {}
          refs[k] = first
        else
          seen[v.object_id] = k
        end
      end
      refs || OpenEntity::NO_REFS
    end

    def self.__cycle__?(value, ancestors)
      i = 0
      while i < ancestors.length
        return true if ancestors[i].equal?(value)
        i += 1
      end
      false
    end

    def self.__child_path__(path, key)
      if key.is_a?(Symbol) && __identifier__?(key.to_s)
        "#{path}.#{key}"
      else
        "#{path}[#{key.inspect}]"
      end
    end

    def self.__identifier__?(text)
      return false if text.empty?
      i = 0
      text.each_byte do |b|
        letter = (b >= 97 && b <= 122) || (b >= 65 && b <= 90) || b == 95
        return false unless letter || (i > 0 && b >= 48 && b <= 57)
        i += 1
      end
      true
    end

    # The shortest of 15 to 17 significant digits that reads back as the
    # same Float, always with a decimal point so it reads back as a Float.
    def self.float_literal(f)
      text = nil
      [15, 16, 17].each do |digits|
        candidate = format("%.#{digits}g", f)
        if candidate.to_f == f
          text = candidate
          break
        end
      end
      text ||= format("%.17g", f)
      e = text.index("e")
      if e
        mantissa = text[0, e]
        mantissa = "#{mantissa}.0" unless mantissa.include?(".")
        "#{mantissa}#{text[e, text.length - e]}"
      elsif text.include?(".")
        text
      else
        "#{text}.0"
      end
    end
  end
end
