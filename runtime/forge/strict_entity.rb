# ORB::StrictEntity: entities with a fixed set of properties. One subclass
# is made per entity name the first time `new_entity_strict` sees it.
module ORB
  class StrictEntity
    include Geometry

    BASE_ATTRIBUTES = [:entity_id, :entity_name, :entity_strict, :created_at,
                       :created_at_elapsed, :global_created_at_elapsed,
                       :entity_type, :entity_keys_by_ref].freeze

    attr_accessor(*BASE_ATTRIBUTES)

    def self.__define_for__(entity_name, keys)
      klass = Class.new(StrictEntity)
      klass.instance_variable_set(:@__strict_name__, entity_name)
      keys.each do |key|
        next if BASE_ATTRIBUTES.include?(key)
        klass.send(:attr_accessor, key)
      end
      klass
    end

    def self.strict_name
      @__strict_name__
    end

    def __init_strict__(entity_type, init_hash)
      @entity_id = Entity.id!
      @entity_name = entity_type
      @entity_type = entity_type
      @created_at = Kernel.tick_count
      @global_created_at_elapsed = Kernel.global_tick_count
      @entity_strict = true
      @entity_keys_by_ref = {}
      if init_hash
        init_hash.each do |k, v|
          if respond_to?("#{k}=")
            __send__("#{k}=", v)
          else
            instance_variable_set("@#{k}", v)
          end
        end
      end
    end

    def created_at_elapsed
      @created_at ? Kernel.tick_count - @created_at : nil
    end

    def global_created_at_elapsed
      @global_created_at_elapsed ? Kernel.global_tick_count - @global_created_at_elapsed : nil
    end

    def [](key)
      __strict_check__(key)
      __send__(key)
    end

    def []=(key, value)
      __strict_check__(key)
      __send__("#{key}=", value)
    end

    def set!(key, value)
      self[key] = value
    end

    def as_hash
      self
    end

    def to_hash
      result = {}
      instance_variables.each { |iv| result[iv.to_s[1..-1].to_sym] = instance_variable_get(iv) }
      result
    end

    def clear!
      instance_variables.each { |iv| instance_variable_set(iv, nil) }
      self
    end

    def inspect
      to_hash.inspect
    end

    def to_s
      inspect
    end

    def is_a?(klass)
      return true if Entity.strict_entities.key?(klass)
      super
    end

    def method_missing(name, *args, &block)
      __strict_check__(name.to_s.chomp("=").to_sym)
      super
    end

    def __strict_check__(key)
      return if respond_to?(key)
      raise "* ERROR:\n" \
            "The *strict* entity with name :#{@entity_name} doesn't have the property #{key}. When converting\n" \
            "from \"new_entity\" to \"new_entity_strict\", " \
            "all possible properties must be defined when the entity was originially created. Make sure\n" \
            "#{key} is defined within args.state.new_entity_strict(:#{@entity_name}) do ... end.\n" \
            "\n"
    end
  end
end
